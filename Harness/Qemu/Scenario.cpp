// Scenarios from fw_cfg and their platform set-up.
#include "Scenario.h"

#include "FwCfg.h"
#include "Instructions.h"
#include "NumberSyntax.h"
#include "Platform.h"
#include "Report.h"
#include "PciSerial/BuildSettings.h"

namespace {
// The QEMU topology that the PciSerial image variant describes: the bridge on
// bus 0, the serial function on the bridge's secondary bus.
constexpr UINT32 BridgeDevice = Settings::UartPciDeviceList[0].Device;
constexpr UINT32 BridgeFunction = Settings::UartPciDeviceList[0].Function;
constexpr UINT32 SerialDevice = Settings::UartPciDeviceList[1].Device;
constexpr UINT32 SerialFunction = Settings::UartPciDeviceList[1].Function;
constexpr UINT32 SerialPowerRegister = Settings::UartPciDeviceList[1].PowerManagementRegister;
static_assert(Settings::UartPciDeviceList[2].Device == UartPciDeviceListEnd, "one bridge, then the UART");
constexpr UINT16 PowerStateD3 = 0x0003;
constexpr UINT8 ClosedIoBase = 0xD0;   // D000: above the limit, so no I/O is forwarded
constexpr UINT8 ClosedIoLimit = 0xC0;  // up to CFFF
constexpr UINT32 MarkerRegister = 0x48;  // pci-serial scratch, unused by the module
constexpr UINT32 MarkerStart = 0x5157A127;
constexpr UINT32 MarkerEnd = 0x51E0D000;
constexpr UINT16 IirOffset = 2;

bool Same(const CHAR8* Text, const CHAR8* Word, UINT32 Length) {
  UINT32 Index = 0;
  while (Index < Length && Word[Index] != 0 && Text[Index] == Word[Index]) {
    ++Index;
  }
  return Index == Length && Word[Index] == 0;
}

UINT32 Length(const CHAR8* Text) {
  UINT32 Count = 0;
  while (Text[Count] != 0) {
    ++Count;
  }
  return Count;
}

constexpr const CHAR8* UartWords[] = {"boot", "ready", nullptr};
constexpr const CHAR8* PciWords[] = {"off", "d3", "d3-bridge-off", "bar-empty", "window-closed", "on", nullptr};
constexpr const CHAR8* UartExpectationWords[] = {"programmed", "untouched", "absent", nullptr};
static_assert(PciWords[static_cast<UINT32>(PciState::On)] != nullptr, "a word for every PCI state");

// The settings a scenario may carry: a number up to Most (in hexadecimal
// when Mask, as the board runner's masks and statuses), or one of Words,
// whose index is stored.
struct Setting {
  const CHAR8* Key;
  UINT32 Most;
  bool Mask;
  const CHAR8* const* Words;
  const CHAR8* Expected;
  void (*Store)(Scenario&, UINT32);
};
constexpr Setting ScenarioSettings[] = {
    {"level", 0xFFFFFFFF, true, nullptr, "a 32-bit number, decimal or 0x-prefixed hexadecimal",
     [](Scenario& S, UINT32 V) { S.Level = V; }},
    {"baud", 0xFF, false, nullptr, "a byte: 0 to 255, decimal or 0x-prefixed hexadecimal",
     [](Scenario& S, UINT32 V) { S.Baud = static_cast<UINT8>(V); }},
    {"uart", 0, false, UartWords, "boot or ready", [](Scenario& S, UINT32 V) { S.Uart = static_cast<UartState>(V); }},
    {"fail-alloc", 1000, false, nullptr, "0 (none) to 1000", [](Scenario& S, UINT32 V) { S.FailingAllocation = V; }},
    {"allocation-status", 0xFFFFFFFF, true, nullptr, "a 32-bit status, decimal or 0x-prefixed hexadecimal",
     [](Scenario& S, UINT32 V) { S.AllocationStatus = V; }},
    {"install-status", 0xFFFFFFFF, true, nullptr, "a 32-bit status, decimal or 0x-prefixed hexadecimal",
     [](Scenario& S, UINT32 V) {
       S.InstallFails = true;
       S.InstallStatus = V;
     }},
    {"expect-status", 0xFFFFFFFF, true, nullptr, "a 32-bit status, decimal or 0x-prefixed hexadecimal",
     [](Scenario& S, UINT32 V) { S.ExpectedStatus = V; }},
    {"pci", 0, false, PciWords, "off, d3, d3-bridge-off, bar-empty, window-closed or on",
     [](Scenario& S, UINT32 V) { S.Pci = static_cast<PciState>(V); }},
    {"expect-traps", 1000, false, nullptr, "0 to 1000", [](Scenario& S, UINT32 V) { S.ExpectedTraps = V; }},
    {"expect-uarts", 0, false, UartExpectationWords, "programmed, untouched or absent",
     [](Scenario& S, UINT32 V) { S.ExpectedUarts = static_cast<UartExpectation>(V); }},
};

bool ParseWord(const CHAR8* Text, UINT32 Length, const CHAR8* const* Words, UINT32& Index) {
  for (Index = 0; Words[Index] != nullptr; ++Index) {
    if (Same(Text, Words[Index], Length)) {
      return true;
    }
  }
  return false;
}

// A bad setting, named with its value on the report channel and on COM1 (the
// terminal of a person at -serial stdio), ends the run.
[[noreturn]] void RefuseSetting(const CHAR8* Name, const CHAR8* Value, const ScenarioError& Error) {
  Report::Both("fault: ");
  Report::Both(Error.Problem);
  Report::Both(" ");
  Report::Both(Name);
  Report::Both(": \"");
  Report::Both(Value);
  // The board runner's own words for a refused mask; otherwise what the
  // setting takes.
  if (Error.Expected == nullptr) {
    Report::Both("\" ");
    Report::Both(Error.Why);
    Report::Both("\n");
  } else {
    Report::Both("\" (");
    Report::Both(Error.Expected);
    Report::Both(")\n");
  }
  Finish(false);
}

// Without fw_cfg (Bochs) the settings come as one line of text, "key=value"
// words apart by spaces and ended by a 0 byte, in the upper CMOS bank
// (0x80..0xFF through ports 0x72/0x73), which the module never reads; an
// unwritten bank reads 0xFF or 0. Each word is refused in the words QEMU's
// fw_cfg item of that name would be.
constexpr UINT16 UpperCmosIndexPort = 0x72;
constexpr UINT16 UpperCmosDataPort = 0x73;
constexpr UINT32 UpperCmosFirst = 0x80;
constexpr UINT32 UpperCmosBytes = 0x80;

UINT8 UpperCmos(UINT32 Offset) {
  Cpu::Out8(UpperCmosIndexPort, static_cast<UINT8>(UpperCmosFirst + Offset));
  return Cpu::In8(UpperCmosDataPort);
}

void ReadCmosScenario(Scenario& Result) {
  CHAR8 Line[UpperCmosBytes + 1] = {};
  UINT32 Used = 0;
  while (Used < UpperCmosBytes) {
    const UINT8 Byte = UpperCmos(Used);
    if (Byte == 0 || Byte == 0xFF) {
      break;
    }
    Line[Used++] = static_cast<CHAR8>(Byte);
  }
  UINT32 At = 0;
  while (At < Used) {
    if (Line[At] == ' ') {
      ++At;
      continue;
    }
    const UINT32 WordStart = At;
    UINT32 Equals = 0;
    while (At < Used && Line[At] != ' ') {
      if (Line[At] == '=' && Equals == 0) {
        Equals = At;
      }
      ++At;
    }
    // The name as the fw_cfg item would carry it, so refusals read the same.
    CHAR8 Name[FwCfg::NameBytes] = {};
    CHAR8 Value[64] = {};
    const UINT32 PrefixLength = Length(ScenarioItemPrefix);
    for (UINT32 Index = 0; Index < PrefixLength; ++Index) {
      Name[Index] = ScenarioItemPrefix[Index];
    }
    const UINT32 KeyEnd = Equals != 0 ? Equals : At;
    for (UINT32 Index = WordStart; Index < KeyEnd && PrefixLength + Index - WordStart < FwCfg::NameBytes - 1; ++Index) {
      Name[PrefixLength + Index - WordStart] = Line[Index];
    }
    UINT32 ValueLength = 0;
    if (Equals != 0) {
      for (UINT32 Index = Equals + 1; Index < At && ValueLength < sizeof(Value) - 1; ++Index) {
        Value[ValueLength++] = Line[Index];
      }
    }
    const bool TooLong = Equals != 0 && At - Equals - 1 > sizeof(Value) - 1;
    const ScenarioError Error = TooLong ? ScenarioError{"scenario setting too long", "at most 63 characters", {}}
                                        : ApplySetting(Name + PrefixLength, Value, ValueLength, Result);
    if (Error.Problem != nullptr) {
      RefuseSetting(Name, Value, Error);
    }
  }
}

// The serial function's bus as the firmware numbered it, read once before
// the run so that no harness access falls between the two markers.
UINT32 SerialBusNumber;
}  // namespace

ScenarioError ApplySetting(const CHAR8* Key, const CHAR8* Value, UINT32 ValueLength, Scenario& Result) {
  const Setting* Found = nullptr;
  for (const Setting& Each : ScenarioSettings) {
    if (Same(Key, Each.Key, Length(Key))) {
      Found = &Each;
    }
  }
  if (Found == nullptr) {
    return {"unknown scenario setting", "level, baud, uart, fail-alloc, allocation-status, install-status, "
                                        "expect-status, pci, expect-traps or expect-uarts", {}};
  }
  UINT32 Number = 0;
  if (Found->Words != nullptr) {
    if (!ParseWord(Value, ValueLength, Found->Words, Number)) {
      return {"bad value in scenario setting", Found->Expected, {}};
    }
  } else {
    const NumberSyntax::Reading Read = NumberSyntax::Read(Value, ValueLength, Found->Mask, Found->Most);
    if (Read.Result == NumberSyntax::Verdict::AmbiguousMask) {
      ScenarioError Error = {"bad value in scenario setting", nullptr, {}};
      NumberSyntax::WhyAmbiguous(Value, ValueLength, Read.Value, Error.Why);
      return Error;
    }
    if (Read.Result != NumberSyntax::Verdict::Number) {
      return {"bad value in scenario setting", Found->Expected, {}};
    }
    Number = static_cast<UINT32>(Read.Value);
  }
  Found->Store(Result, Number);
  return {};
}

void ReadScenario(Scenario& Result) {
  Result = {};
  Result.AllocationStatus = EFI_OUT_OF_RESOURCES;
  if (!FwCfg::Present()) {
    ReadCmosScenario(Result);
    return;
  }
  const UINT32 PrefixLength = Length(ScenarioItemPrefix);
  const UINT32 Count = FwCfg::ItemCount();
  for (UINT32 Index = 0; Index < Count; ++Index) {
    const FwCfg::Item Item = FwCfg::ItemAt(Index);
    if (!Same(Item.Name, ScenarioItemPrefix, PrefixLength)) {
      continue;
    }
    CHAR8 Value[64] = {};
    UINT32 ValueLength = FwCfg::Read(Item, reinterpret_cast<UINT8*>(Value), sizeof(Value) - 1);
    // A string item may end with its terminator, a file item with a line end.
    while (ValueLength > 0 && (Value[ValueLength - 1] == 0 || Value[ValueLength - 1] == '\n' ||
                               Value[ValueLength - 1] == '\r' || Value[ValueLength - 1] == ' ')) {
      --ValueLength;
    }
    Value[ValueLength] = 0;
    const ScenarioError Error = Item.Size >= sizeof(Value)
                                    ? ScenarioError{"scenario setting too long", "at most 63 characters", {}}
                                    : ApplySetting(Item.Name + PrefixLength, Value, ValueLength, Result);
    if (Error.Problem != nullptr) {
      RefuseSetting(Item.Name, Value, Error);
    }
  }
}

// What an earlier boot stage programs for the CMOS baud selection: the same
// divisor rule the module applies (bits 1..2 of 0x6F).
UINT16 DivisorFor(UINT8 Baud) {
  constexpr UINT16 Divisors[] = {1, 2, 6, 12};
  return Divisors[(Baud & 0x06) >> 1];
}

void CheckScenarioFits(const Scenario& Setup, bool PciPairPresent) {
  static_assert(BridgeDevice == 2 && BridgeFunction == 0, "the refusal names the bridge at 00:02.0");
  if (Setup.Pci != PciState::Off && !PciPairPresent) {
    RefuseSetting("opt/qel/pci", PciWords[static_cast<UINT32>(Setup.Pci)],
                  {"bad value in scenario setting",
                   "off: the other states need the pci-bridge at 00:02.0 with a pci-serial behind it, which this "
                   "machine lacks",
                   {}});
  }
}

void DescribeScenario(const Scenario& Setup) {
  Report::HexField("scenario: level=", Setup.Level, 8);
  Report::HexField(" baud=", Setup.Baud, 2);
  Report::Text(Setup.Uart == UartState::Ready ? " uart=ready" : " uart=boot");
  Report::DecimalField(" fail-alloc=", Setup.FailingAllocation);
  if (Setup.FailingAllocation != 0 && Setup.AllocationStatus != EFI_OUT_OF_RESOURCES) {
    Report::HexField(" allocation-status=", Setup.AllocationStatus, 8);
  }
  Report::Text(" install-status=");
  if (Setup.InstallFails) {
    Report::Hex(Setup.InstallStatus, 8);
  } else {
    Report::Text("real");
  }
  Report::HexField(" expect-status=", Setup.ExpectedStatus, 8);
  Report::Text(" pci=");
  Report::Text(PciWords[static_cast<UINT32>(Setup.Pci)]);
  Report::Text("\n");
}

void PrepareScenario(const Scenario& Setup) {
  for (UINT8 Index = 0; Index < 4; ++Index) {
    Cmos::Write(static_cast<UINT8>(Cmos::LevelMask + Index), static_cast<UINT8>(Setup.Level >> (8 * Index)));
  }
  Cmos::Write(Cmos::BaudSelect, Setup.Baud);
  if (Setup.Uart == UartState::Ready) {
    // 8N1, FIFOs on and DTR/RTS/OUT2 set: a module that reprograms the line
    // would clear the modem control byte, so leaving it alone shows.
    constexpr UINT8 LineControl8N1 = 0x03;
    constexpr UINT8 FifoEnable = 0x01;
    constexpr UINT8 DtrRtsOut2 = 0x0B;
    Uart::Program(Uart::Com1, LineControl8N1, DivisorFor(Setup.Baud), FifoEnable, DtrRtsOut2);
    Uart::Program(Uart::Com2, LineControl8N1, DivisorFor(Setup.Baud), FifoEnable, DtrRtsOut2);
  }
  if (Setup.Pci == PciState::Off) {
    return;
  }
  SerialBusNumber = Pci::Read8(0, BridgeDevice, BridgeFunction, Pci::SecondaryBus);
  if (Setup.Pci == PciState::On) {
    return;
  }
  // The UART's decoding off and the function in D3, and in all but the first
  // state the bridge's decoding off too: what the module must undo.
  const UINT32 Bus = SerialBusNumber;
  if (Setup.Pci != PciState::D3) {
    Pci::Write16(0, BridgeDevice, BridgeFunction, Pci::Command,
                 Pci::Read16(0, BridgeDevice, BridgeFunction, Pci::Command) & ~Pci::IoSpaceEnable);
  }
  Pci::Write16(Bus, SerialDevice, SerialFunction, Pci::Command,
               Pci::Read16(Bus, SerialDevice, SerialFunction, Pci::Command) & ~Pci::IoSpaceEnable);
  Pci::Write16(Bus, SerialDevice, SerialFunction, SerialPowerRegister, PowerStateD3);
  if (Setup.Pci == PciState::BarEmpty) {
    Pci::Write32(Bus, SerialDevice, SerialFunction, Pci::Bar0, 0);
  }
  if (Setup.Pci == PciState::WindowClosed) {
    // The limit below the base: the bridge forwards no I/O at all.
    Pci::Write8(0, BridgeDevice, BridgeFunction, Pci::IoBase, ClosedIoBase);
    Pci::Write8(0, BridgeDevice, BridgeFunction, Pci::IoLimit, ClosedIoLimit);
  }
}

void MarkModuleRunStart(const Scenario& Setup) {
  if (Setup.Pci != PciState::Off) {
    Pci::Write32(SerialBusNumber, SerialDevice, SerialFunction, MarkerRegister, MarkerStart);
  }
}

void MarkModuleRunEnd(const Scenario& Setup) {
  if (Setup.Pci != PciState::Off) {
    Pci::Write32(SerialBusNumber, SerialDevice, SerialFunction, MarkerRegister, MarkerEnd);
  }
}

void ReportPci(const Scenario& Setup) {
  if (Setup.Pci == PciState::Off) {
    return;
  }
  const UINT16 BridgeCommand = Pci::Read16(0, BridgeDevice, BridgeFunction, Pci::Command);
  Report::Text("pci bridge 00:");
  Report::Hex(BridgeDevice, 2);
  Report::Text(".");
  Report::Hex(BridgeFunction, 1);
  Report::HexField(": command=", BridgeCommand, 4);
  Report::HexField(" secondary=", Pci::Read8(0, BridgeDevice, BridgeFunction, Pci::SecondaryBus), 2);
  Report::HexField(" subordinate=", Pci::Read8(0, BridgeDevice, BridgeFunction, Pci::SubordinateBus), 2);
  Report::HexField(" io-base=", Pci::Read8(0, BridgeDevice, BridgeFunction, Pci::IoBase), 2);
  Report::HexField(" io-limit=", Pci::Read8(0, BridgeDevice, BridgeFunction, Pci::IoLimit), 2);
  Report::Text("\n");

  const UINT32 Bus = SerialBusNumber;
  const UINT16 SerialCommand = Pci::Read16(Bus, SerialDevice, SerialFunction, Pci::Command);
  const UINT32 Bar = Pci::Read32(Bus, SerialDevice, SerialFunction, Pci::Bar0);
  Report::Text("pci uart ");
  Report::Hex(Bus, 2);
  Report::Text(":");
  Report::Hex(SerialDevice, 2);
  Report::Text(".");
  Report::Hex(SerialFunction, 1);
  Report::HexField(": command=", SerialCommand, 4);
  Report::HexField(" bar0=", Bar, 8);
  Report::HexField(" power=", Pci::Read16(Bus, SerialDevice, SerialFunction, SerialPowerRegister), 4);
  // The UART's own FIFO state is only reachable when both decode its ports.
  Report::Text(" iir=");
  if ((BridgeCommand & SerialCommand & Pci::IoSpaceEnable) != 0) {
    Report::Hex(Cpu::In8(static_cast<UINT16>((Bar & ~7u) + IirOffset)), 2);
  } else {
    Report::Text("--");
  }
  Report::Text("\n");
}

bool AssignPciResources() {
  // Only QEMU's pci-bridge at the listed slot, as its firmware would number
  // and open it: bus 1 behind it, I/O C000-CFFF, the serial function's BAR at
  // C000, I/O and memory decoding and SERR# reporting on both.
  constexpr UINT16 Enabled = 0x0103;
  constexpr UINT8 HeaderTypeRegister = 0x0E;
  constexpr UINT8 BridgeHeader = 0x01;
  constexpr UINT8 PrimaryBus = 0x18;
  constexpr UINT8 WindowC000 = 0xC0;
  constexpr UINT32 SerialIoBase = 0xC000;
  if (Pci::Read16(0, BridgeDevice, BridgeFunction, 0) == 0xFFFF ||
      (Pci::Read8(0, BridgeDevice, BridgeFunction, HeaderTypeRegister) & 0x7F) != BridgeHeader) {
    return false;
  }
  Pci::Write8(0, BridgeDevice, BridgeFunction, PrimaryBus, 0);
  Pci::Write8(0, BridgeDevice, BridgeFunction, Pci::SecondaryBus, 1);
  Pci::Write8(0, BridgeDevice, BridgeFunction, Pci::SubordinateBus, 1);
  Pci::Write8(0, BridgeDevice, BridgeFunction, Pci::IoBase, WindowC000);
  Pci::Write8(0, BridgeDevice, BridgeFunction, Pci::IoLimit, WindowC000);
  Pci::Write16(0, BridgeDevice, BridgeFunction, Pci::Command, Enabled);
  if (Pci::Read16(1, SerialDevice, SerialFunction, 0) == 0xFFFF) {
    return false;
  }
  Pci::Write32(1, SerialDevice, SerialFunction, Pci::Bar0, SerialIoBase);
  Pci::Write16(1, SerialDevice, SerialFunction, Pci::Command, Enabled);
  return true;
}
