// Where the UART's registers are: the fixed base, or a PCI function behind bridges.
#include "BuildSettings.h"
#include "Library/PciCf8Lib.h"
#include "Library/SerialPortLib.h"
#include "Uart16550.h"

namespace {
// Configuration registers (PCI Local Bus 3.0, PCI-to-PCI Bridge 1.2).
namespace PciRegister {
constexpr UINT32 Command = 0x04;
constexpr UINT32 FirstBar = 0x10;
constexpr UINT32 LastBar = 0x24;
constexpr UINT32 SecondaryBus = 0x19;
constexpr UINT32 SubordinateBus = 0x1A;
constexpr UINT32 IoBase = 0x1C;
constexpr UINT32 IoLimit = 0x1D;
constexpr UINT32 MemoryBase = 0x20;
constexpr UINT32 MemoryLimit = 0x22;
constexpr UINT32 IoBaseUpper16 = 0x30;
constexpr UINT32 IoLimitUpper16 = 0x32;
}  // namespace PciRegister

constexpr UINT16 CommandIoSpace = 0x0001;
constexpr UINT16 CommandMemorySpace = 0x0002;
constexpr UINT32 BarIoSpace = 0x1;          // BAR bit 0
constexpr UINT32 BarMemoryTypeMask = 0x6;   // BAR bits 2..1 of a memory BAR
constexpr UINT32 BarMemoryType64 = 0x4;     // the next BAR holds the upper dword
constexpr UINT32 IoBarAddressMask = 0xFFFFFFF8;
constexpr UINT32 MemoryBarAddressMask = 0xFFFFFFF0;
constexpr UINT8 IoDecode32 = 0x01;          // I/O base/limit bit 0: upper 16 bits at 0x30/0x32
constexpr UINT32 MemoryWindowMask = 0xFFF0;
constexpr UINT16 PowerStateBits = 0x0003;   // PMCSR bits 0..1; 0 is D0
constexpr UINT16 ClearPowerState = 0xFFFC;

constexpr bool UseMmio = Settings::UartUseMmio;
constexpr UINT16 DecodeEnable = UseMmio ? CommandMemorySpace : CommandIoSpace;
constexpr UINT32 BarAddressMask = UseMmio ? MemoryBarAddressMask : IoBarAddressMask;

// The list is a build constant, so a list that would walk the wrong device,
// misalign a 16-bit access or run off its end is refused by the build.
constexpr const UartPciDevice* List = Settings::UartPciDeviceList;
constexpr UINTN ListCapacity = sizeof(Settings::UartPciDeviceList) / sizeof(Settings::UartPciDeviceList[0]);

constexpr UINTN CountHops() {
  UINTN Index = 0;
  while (Index < ListCapacity && List[Index].Device != UartPciDeviceListEnd) {
    ++Index;
  }
  return Index;
}
constexpr UINTN HopCount = CountHops();
// The last hop is the UART itself; every hop before it is a bridge.
constexpr UINTN UartIndex = HopCount == 0 ? 0 : HopCount - 1;

constexpr bool HopsHave(bool (*Holds)(const UartPciDevice&)) {
  for (UINTN Index = 0; Index < HopCount; ++Index) {
    if (!Holds(List[Index])) {
      return false;
    }
  }
  return true;
}
constexpr bool DeviceInRange(const UartPciDevice& Hop) { return Hop.Device <= 31; }
constexpr bool FunctionInRange(const UartPciDevice& Hop) { return Hop.Function <= 7; }
constexpr bool PowerRegisterUsable(const UartPciDevice& Hop) {
  return (Hop.PowerManagementRegister & 3) == 0 && Hop.PowerManagementRegister <= 0xFC;
}

static_assert(HopCount < ListCapacity, "UartPciDeviceList must end with a record whose Device is 0xFF");
static_assert(HopsHave(DeviceInRange), "UartPciDeviceList: a Device above 31 that is not the 0xFF terminator");
static_assert(HopsHave(FunctionInRange), "UartPciDeviceList: a Function above 7");
static_assert(HopsHave(PowerRegisterUsable),
              "UartPciDeviceList: a PowerManagementRegister that is not a dword-aligned register below 0x100");

// Windows in the units of the bridge registers: 4 KB for I/O (address >> 12),
// 64 KB with the low four bits clear for memory (address >> 16).
struct Window {
  UINT32 Base;
  UINT32 Limit;
};
constexpr Window WholeSpace = UseMmio ? Window{0x0000, 0xFFF0} : Window{0x0, 0xF};

constexpr bool InsideParent(const Window& Child, const Window& Parent) {
  return Child.Limit >= Child.Base && Child.Base >= Parent.Base && Child.Base <= Parent.Limit &&
         Child.Limit <= Parent.Limit;
}

constexpr UINT32 WindowUnit(UINT32 Address) {
  return UseMmio ? (Address >> 16) & MemoryWindowMask : Address >> 12;
}

UINT32 HopAddress(UINT32 Bus, const UartPciDevice& Hop) {
  return PciAddress(Bus, Hop.Device & 0x1F, Hop.Function & 0x7, 0);
}

Window BridgeWindow(UINT32 Bridge) {
  if constexpr (UseMmio) {
    const UINT32 Limit = PciCfgRead16(Bridge + PciRegister::MemoryLimit) & MemoryWindowMask;
    const UINT32 Base = PciCfgRead16(Bridge + PciRegister::MemoryBase) & MemoryWindowMask;
    return {Base, Limit};
  } else {
    const UINT8 LimitRegister = PciCfgRead8(Bridge + PciRegister::IoLimit);
    UINT32 Limit = LimitRegister >> 4;
    if ((LimitRegister & IoDecode32) != 0) {
      Limit |= static_cast<UINT32>(PciCfgRead16(Bridge + PciRegister::IoLimitUpper16)) << 4;
    }
    const UINT8 BaseRegister = PciCfgRead8(Bridge + PciRegister::IoBase);
    UINT32 Base = BaseRegister >> 4;
    if ((BaseRegister & IoDecode32) != 0) {
      Base |= static_cast<UINT32>(PciCfgRead16(Bridge + PciRegister::IoBaseUpper16)) << 4;
    }
    return {Base, Limit};
  }
}

// The first BAR of the kind the build uses, or 0 when there is none. The
// upper dword of a 64-bit memory BAR is not a BAR of its own: taken as one,
// its address bits would be overwritten.
UINT32 FindUartBar(UINT32 Uart) {
  for (UINT32 Register = PciRegister::FirstBar; Register <= PciRegister::LastBar; Register += 4) {
    const UINT32 Value = PciCfgRead32(Uart + Register);
    const bool IsIo = (Value & BarIoSpace) != 0;
    if (IsIo != UseMmio) {
      return Uart + Register;
    }
    if (!IsIo && (Value & BarMemoryTypeMask) == BarMemoryType64) {
      Register += 4;
    }
  }
  return 0;
}

// True when the function was not in D0 and has been put there.
bool ForceD0(UINT32 PowerControl) {
  if ((PciCfgRead16(PowerControl) & PowerStateBits) == 0) {
    return false;
  }
  PciCfgAnd16(PowerControl, ClearPowerState);
  return true;
}

// Unused, and not emitted, in a build whose list is empty.
[[maybe_unused]] UINTN FindPciUartBase() {
  Window Parent = WholeSpace;
  UINT32 Bus = 0;
  for (UINTN Index = 0; Index < UartIndex; ++Index) {
    const UINT32 Bridge = HopAddress(Bus, List[Index]);
    const UINT8 Secondary = PciCfgRead8(Bridge + PciRegister::SecondaryBus);
    const UINT8 Subordinate = PciCfgRead8(Bridge + PciRegister::SubordinateBus);
    if (Secondary == 0 || Secondary > Subordinate) {
      return 0;
    }
    Bus = Secondary;
    const Window Forwarded = BridgeWindow(Bridge);
    if (!InsideParent(Forwarded, Parent)) {
      return 0;
    }
    Parent = Forwarded;
  }

  const UartPciDevice& UartHop = List[UartIndex];
  const UINT32 Uart = HopAddress(Bus, UartHop);
  const UINT32 Bar = FindUartBar(Uart);
  if (Bar == 0) {
    return 0;
  }
  const UINT32 Base = UpdateBar32(Bar, Settings::UartBase, BarAddressMask);
  const UINT32 Unit = WindowUnit(Base);
  if (Unit < Parent.Base || Unit > Parent.Limit) {
    return 0;
  }

  // The UART first, then the bridges from bus 0 outward.
  PciCfgOr16(Uart + PciRegister::Command, DecodeEnable);
  if (UartHop.PowerManagementRegister != 0 && ForceD0(Uart + UartHop.PowerManagementRegister)) {
    // Leaving D3 resets the UART; its FIFOs come back on without a reset.
    UartWrite(Base, Uart16550::FifoControl, Settings::UartFifoControl & Uart16550::FifoControlMask);
  }
  Bus = 0;
  for (UINTN Index = 0; Index < UartIndex; ++Index) {
    const UINT32 Bridge = HopAddress(Bus, List[Index]);
    PciCfgOr16(Bridge + PciRegister::Command, DecodeEnable);
    if (List[Index].PowerManagementRegister != 0) {
      ForceD0(Bridge + List[Index].PowerManagementRegister);
    }
    Bus = PciCfgRead8(Bridge + PciRegister::SecondaryBus);
  }
  return Base;
}
}  // namespace

UINT32 UpdateBar32(UINT32 Address, UINT32 Base, UINT32 Mask) {
  const UINT32 Current = PciCfgRead32(Address) & Mask;
  if (Current != 0) {
    return Current;
  }
  return PciCfgWrite32(Address, Base & Mask);
}

UINTN FindUartBase() {
  if constexpr (HopCount == 0) {
    return Settings::UartBase;
  } else {
    return FindPciUartBase();
  }
}
