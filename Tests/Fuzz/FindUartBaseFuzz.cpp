// Drives FindUartBase over random configuration-space contents of the way to
// the UART (the build's list of hops) and of decoy functions beside it, and
// checks what must always hold: configuration writes go only to the listed
// hops' command, BAR and power-management registers; a result of 0 comes
// with no write but the filling of an empty BAR; a result that is not 0 is
// UartBase or an address held in a UART BAR; the only other write is the FCR write at that
// address; 0xCF8 and the interrupt flag are as they were; no check fires.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "ListedTopology.h"
#include "Processor.h"
#include "Library/SerialPortLib.h"
#include "RecordingDebugLib.h"

namespace {
using namespace Listed;

constexpr uint16_t UartTargetBase = 0x3F8;
constexpr unsigned Hops = Bridges + 1;

[[noreturn]] void Fail(const char* What, uint32_t Detail) {
  std::fprintf(stderr, "FindUartBaseFuzz: %s (0x%X)\n", What, Detail);
  std::abort();
}

// Registers FindUartBase may write in a hop's configuration space.
bool Writable(unsigned Hop, uint16_t Register) {
  if (Register == 0x04 || (Hop == Bridges && Register >= 0x10 && Register <= 0x24)) {
    return true;
  }
  const uint16_t PowerControl = Listed::Hop(Hop).PowerManagementRegister;
  return PowerControl != 0 && Register == PowerControl;
}

// The register FindUartBase may take the UART's address from.
bool IsUartBar(unsigned Register) { return Register >= 0x10 && Register <= 0x24 && (Register & 3) == 0; }


// One board for the whole run: building one per input churns the heap until
// the sanitizer's allocator runs out of address space under the i386 emulator.
// Each input starts from the pristine standard spaces.
struct Bench {
  struct Latch : Sim::PortDevice {
    uint32_t PortRead(uint16_t, unsigned) override { return 0x60; }
    void PortWrite(uint16_t, unsigned, uint32_t) override {}
  };

  Bench() {
    Processor.WatchdogPolls = 0;  // nothing here polls; libFuzzer's timeout catches a hang
    // Every memory cycle the UART's base may point at ends at the host bridge.
    Host.ClaimMemoryHole(0x00000000, 0xFFFFFFFF);
    Way.emplace(Host, Target, UartTargetBase);
    // Decoys: a function beside each hop on the same bus, which must never be written.
    Sim::PciBus* On = &Host.Root();
    for (unsigned Index = 0; Index < Hops; ++Index) {
      Spaces.push_back(&Way->HopFunction(Index));
      const auto Device = static_cast<uint8_t>((Hop(Index).Device + 1) % 32);
      Spaces.push_back(&On->Add<Sim::PciFunction>(Device, Hop(Index).Function, 0x8086, 0xDEC0, 0x070002, 0));
      if (Index < Bridges) {
        On = &Way->Bridge[Index]->Secondary();
      }
    }
    for (const Sim::PciFunction* Space : Spaces) {
      std::array<uint8_t, 0x100> Bytes{};
      for (unsigned Offset = 0; Offset < Bytes.size(); ++Offset) {
        Bytes[Offset] = Space->Read8(static_cast<uint16_t>(Offset));
      }
      Pristine.push_back(Bytes);
    }
  }

  Sim::Processor Processor;
  Sim::PciHostBridge Host{Processor};
  Latch Target;
  std::optional<Topology> Way;
  std::vector<Sim::PciFunction*> Spaces;  // the hops and the decoys
  std::vector<std::array<uint8_t, 0x100>> Pristine;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static Bench Bench;
  Sim::Processor& Processor = Bench.Processor;
  Sim::PciHostBridge& Host = Bench.Host;
  Topology& Way = *Bench.Way;
  FuzzedDataProvider Input(Data, Size);
  Recorded::Clear();

  // Either wholly random standard spaces, or the valid way with a few bytes changed.
  const bool Random = Input.ConsumeBool();
  for (size_t Index = 0; Index < Bench.Spaces.size(); ++Index) {
    for (unsigned Offset = 0; Offset < 0x100; ++Offset) {
      const uint8_t Byte = Random ? Input.ConsumeIntegral<uint8_t>() : Bench.Pristine[Index][Offset];
      Bench.Spaces[Index]->Set8(static_cast<uint16_t>(Offset), Byte);
    }
  }
  if (!Random) {
    const unsigned Patches = Input.ConsumeIntegralInRange<unsigned>(0, 16);
    for (unsigned Patch = 0; Patch < Patches; ++Patch) {
      Sim::PciFunction* Space = Bench.Spaces[Input.ConsumeIntegralInRange<size_t>(0, Bench.Spaces.size() - 1)];
      Space->Set8(Input.ConsumeIntegral<uint8_t>(), Input.ConsumeIntegral<uint8_t>());
    }
  }
  const uint32_t ForeignWord = Input.ConsumeIntegral<uint32_t>();
  Host.SetAddressRegister(ForeignWord);
  Processor.InterruptFlag = Input.ConsumeBool();
  const bool InterruptsWere = Processor.InterruptFlag;
  Host.Refresh();
  Processor.ClearTrace();
  Host.ClearCycles();
  Host.ClearAbortedWrites();

  const uint32_t Found = FindUartBase();

  // Configuration writes: only the listed hops, only their own registers.
  unsigned Writes = 0;
  bool BarWritten = false;
  for (const Sim::PciHostBridge::Cycle& Each : Host.Cycles()) {
    if (!Each.Write) {
      continue;
    }
    ++Writes;
    const Sim::PciFunction* Reached = Host.Route(Each.Bus, Each.Device, Each.Function);
    unsigned Hop = Hops;
    for (unsigned Index = 0; Index < Hops; ++Index) {
      if (Reached == &Way.HopFunction(Index)) {
        Hop = Index;
      }
    }
    if (!Each.Claimed || Hop == Hops) {
      Fail("configuration write outside the listed hops", Each.Bus << 16 | Each.Device << 11 | Each.Function << 8);
    }
    if (!Writable(Hop, Each.Register)) {
      Fail("configuration write to a register FindUartBase does not own", Each.Register);
    }
    BarWritten = BarWritten || (Hop == Bridges && IsUartBar(Each.Register));
  }
  if (Found == 0 && Writes > (BarWritten ? 1u : 0u)) {
    Fail("a failure that wrote more than an empty BAR", Writes);
  }
  // UpdateBar32 does not read back what it wrote, so a BAR that ignores the
  // write still yields UartBase.
  const uint32_t Mask = UseMmio ? 0xFFFFFFF0 : 0xFFFFFFF8;
  if (Found != 0 && Found != (UartBase & Mask)) {
    bool Matches = false;
    for (uint16_t Register = 0x10; Register <= 0x24; Register += 4) {
      Matches = Matches || (Way.Uart->Read32(Register) & Mask) == Found;
    }
    if (!Matches) {
      Fail("the result is neither UartBase nor in one of the UART's BARs", Found);
    }
  }

  // Outside configuration space, only the FCR write at the UART found.
  const uint32_t Fcr = Found + 2;
  for (const Sim::BusEvent& Event : Processor.Trace()) {
    const bool PortWrite = Event.What == Sim::BusEvent::Kind::PortOut;
    if (PortWrite && Event.Address >= 0xCF8 && Event.Address <= 0xCFF) {
      continue;
    }
    if (PortWrite || Event.What == Sim::BusEvent::Kind::MemoryWrite) {
      if (Found == 0 || Event.Address != (UseMmio ? Fcr : (Fcr & 0xFFFF)) || PortWrite == UseMmio) {
        Fail("a write outside configuration space that is not the FCR write", Event.Address);
      }
    }
  }
  if (Host.AddressRegister() != ForeignWord) {
    Fail("0xCF8 not restored", Host.AddressRegister());
  }
  if (Processor.InterruptFlag != InterruptsWere) {
    Fail("interrupt flag not restored", Processor.InterruptFlag);
  }
  if (!Recorded::Assertions().empty()) {
    Fail("a check fired", Recorded::Assertions().front().Line);
  }
  return 0;
}
