// FindUartBase on a board built from the build's UartPciDeviceList: the BAR
// search, the order in which the way to the UART is opened, and every
// failure returning 0 before the register it would have written.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Processor.h"
#include "LatchDevice.h"
#include "Library/SerialPortLib.h"
#include "ListedTopology.h"
#include "RecordingDebugLib.h"

namespace {
using namespace Listed;
using Sim::PciBarKind;

constexpr uint16_t UartTargetBase = 0x3F8;
constexpr uint16_t LineStatus = 5;
constexpr uint16_t FifoControl = 2;
constexpr uint16_t DecodeBit = UseMmio ? 0x0002 : 0x0001;
constexpr uint8_t FifoEnableWrite = Settings::UartFifoControl & 0x21;
constexpr uint16_t Command = 0x04;

// A board with the listed way to a UART whose registers are a latch.
struct Bench {
  explicit Bench(Sim::PciUartFunction::Options Layout) {
    Target.PortValues[UartTargetBase + LineStatus] = 0x60;
    Way.emplace(Host, Target, UartTargetBase, Layout);
    Processor.ClearTrace();
    Host.ClearCycles();
  }
  Sim::Processor Processor;
  Sim::PciHostBridge Host{Processor};
  LatchDevice Target;
  std::optional<Topology> Way;
};

class FindUartBaseTest : public ::testing::Test {
protected:
  void SetUp() override { Recorded::Clear(); }
  void Build(Sim::PciUartFunction::Options Layout = {}) {
    Current.reset();
    Current = std::make_unique<Bench>(Layout);
  }
  Topology& Path() { return *Current->Way; }
  const std::vector<Sim::BusEvent>& Trace() const { return Current->Processor.Trace(); }
  uint16_t UartBarRegister() const {
    return static_cast<uint16_t>(0x10 + 4 * Current->Way->Uart->Layout().UartBar);
  }

  // The writes that open the way, for the power states the hops start in.
  std::vector<std::string> Opening(uint32_t Base, bool BarWritten, const std::vector<uint8_t>& States) {
    std::vector<std::string> Expected;
    const Topology& Way = *Current->Way;
    const uint8_t UartBus = Way.Bus[Bridges];
    if (BarWritten) {
      Expected.push_back(ConfigWrite(UartBus, UartHop(), UartBarRegister(), 4, Base));
    }
    Expected.push_back(ConfigWrite(UartBus, UartHop(), Command, 2, DecodeBit));
    if (UartHop().PowerManagementRegister != 0 && States[Bridges] != 0) {
      Expected.push_back(ConfigWrite(UartBus, UartHop(), UartHop().PowerManagementRegister, 2, 0));
      Expected.push_back(UartRegisterWrite(Base + FifoControl, FifoEnableWrite));
    }
    for (unsigned Index = 0; Index < Bridges; ++Index) {
      Expected.push_back(ConfigWrite(Way.Bus[Index], Hop(Index), Command, 2, DecodeBit));
      if (Hop(Index).PowerManagementRegister != 0 && States[Index] != 0) {
        Expected.push_back(ConfigWrite(Way.Bus[Index], Hop(Index), Hop(Index).PowerManagementRegister, 2, 0));
      }
    }
    return Expected;
  }
  std::vector<uint8_t> ColdStates() const {
    std::vector<uint8_t> States;
    for (unsigned Index = 0; Index <= Bridges; ++Index) {
      States.push_back(Hop(Index).PowerManagementRegister != 0 ? 3 : 0);
    }
    return States;
  }
  // Registers of the UART's BARs that configuration reads touched, in order.
  std::vector<uint16_t> BarReads() const {
    std::vector<uint16_t> Registers;
    for (const Sim::PciHostBridge::Cycle& Each : Current->Host.Cycles()) {
      if (!Each.Write && Each.Bus == Current->Way->Bus[Bridges] && Each.Device == UartHop().Device &&
          Each.Function == UartHop().Function && Each.Register >= 0x10 && Each.Register <= 0x24) {
        Registers.push_back(Each.Register);
      }
    }
    return Registers;
  }

  std::unique_ptr<Bench> Current;
};
}  // namespace

TEST_F(FindUartBaseTest, ColdWay_IsOpenedUartFirstThenBridgesFromBusZero) {
  Build();
  EXPECT_EQ(FindUartBase(), UartBase);
  EXPECT_EQ(Writes(Trace()), Opening(UartBase, true, ColdStates()));
  EXPECT_EQ(Path().Uart->UartAddress(), UartBase);
  EXPECT_NE(Path().Uart->CommandRegister() & DecodeBit, 0);
  for (unsigned Index = 0; Index <= Bridges; ++Index) {
    EXPECT_EQ(Path().HopFunction(Index).PowerState(), 0) << "hop " << Index;
    EXPECT_NE(Path().HopFunction(Index).CommandRegister() & DecodeBit, 0) << "hop " << Index;
  }
  // The UART now answers at its base through every bridge.
  ASSERT_TRUE(Path().Uart->Placed());
  EXPECT_EQ(UartRead(UartBase, LineStatus), 0x60);
  EXPECT_TRUE(Recorded::Assertions().empty());
}

TEST_F(FindUartBaseTest, PowerState_IsForcedToD0OnlyWhereItIsNot) {
  Build();
  const unsigned Hops = Bridges + 1;
  for (unsigned Mask = 0; Mask < (1u << Hops); ++Mask) {
    SCOPED_TRACE("hops outside D0: mask " + std::to_string(Mask));
    std::vector<uint8_t> States;
    for (unsigned Index = 0; Index < Hops; ++Index) {
      const bool HasPm = Hop(Index).PowerManagementRegister != 0;
      // D1, D2 and D3 in turn; PME_En (bit 8) must survive.
      const uint8_t State = HasPm && (Mask >> Index & 1) != 0 ? static_cast<uint8_t>(1 + (Mask + Index) % 3) : 0;
      States.push_back(State);
      Sim::PciFunction& Function = Path().HopFunction(Index);
      Function.Set16(Command, 0);
      if (HasPm) {
        Function.Set16(Function.PowerManagementRegister(), State);
      }
    }
    Path().Uart->Set32(UartBarRegister(), UseMmio ? 0 : 1);
    Current->Host.Refresh();
    Current->Processor.ClearTrace();
    EXPECT_EQ(FindUartBase(), UartBase);
    EXPECT_EQ(Writes(Trace()), Opening(UartBase, true, States));
    for (unsigned Index = 0; Index < Hops; ++Index) {
      EXPECT_EQ(Path().HopFunction(Index).PowerState(), 0);
    }
  }
}

TEST_F(FindUartBaseTest, BarHoldingAnAddress_KeepsItUnderTheMask) {
  Build();
  // Low bits are type bits, not address: an I/O BAR keeps bits 3.., a memory BAR bits 4...
  const uint32_t Held = UseMmio ? 0xFE00200C : 0x2FD;
  const uint32_t Expected = UseMmio ? 0xFE002000 : 0x2F8;
  Path().Uart->Set32(UartBarRegister(), Held);
  EXPECT_EQ(FindUartBase(), Expected);
  EXPECT_EQ(Path().Uart->Read32(UartBarRegister()), Held);
  EXPECT_EQ(Writes(Trace()), Opening(Expected, false, ColdStates()));
}

TEST_F(FindUartBaseTest, BarSearch_TakesTheFirstBarOfTheBuildsKind) {
  if constexpr (UseMmio) {
    Build({.UartBar = 2, .Kind = PciBarKind::Memory32});
    Path().Uart->DefineBar(0, PciBarKind::Io, 8);
    Path().Uart->DefineBar(1, PciBarKind::Io, 0x20);
  } else {
    Build({.UartBar = 3});
    Path().Uart->DefineBar(0, PciBarKind::Memory32, 0x1000);
    Path().Uart->DefineBar(1, PciBarKind::Memory32, 0x1000);
    Path().Uart->DefineBar(2, PciBarKind::Memory32, 0x1000);
  }
  Path().Uart->Set32(0x24, UseMmio ? 0xFE003000 : 0x2E9);  // a later candidate is not looked at
  EXPECT_EQ(FindUartBase(), UartBase);
  const uint16_t Taken = UartBarRegister();
  std::vector<uint16_t> Expected;
  for (uint16_t Register = 0x10; Register <= Taken; Register += 4) {
    Expected.push_back(Register);
  }
  Expected.push_back(Taken);  // read again by UpdateBar32
  EXPECT_EQ(BarReads(), Expected);
  EXPECT_EQ(Path().Uart->BarAddress(Path().Uart->Layout().UartBar), UartBase);
}

// The upper dword of a 64-bit memory BAR is no BAR of its own: an odd upper
// dword (an address above 4 GB) must not pass for an I/O BAR and be rewritten.
TEST_F(FindUartBaseTest, SixtyFourBitMemoryBar_UpperDwordIsSkipped) {
  if constexpr (UseMmio) {
    // A memory UART behind a 64-bit BAR is programmed through its lower dword.
    Build({.UartBar = 0, .Kind = PciBarKind::Memory64});
    EXPECT_EQ(FindUartBase(), UartBase);
    EXPECT_EQ(Path().Uart->Read32(0x10), UartBase | 0x4);
    EXPECT_EQ(Path().Uart->Read32(0x14), 0u);
    EXPECT_EQ(BarReads(), (std::vector<uint16_t>{0x10, 0x10}));
  } else {
    Build({.UartBar = 2});
    Path().Uart->DefineBar(0, PciBarKind::Memory64, 0x1000);
    Path().Uart->Set32(0x10, 0x00000004);
    Path().Uart->Set32(0x14, 0x00000001);
    EXPECT_EQ(FindUartBase(), UartBase);
    EXPECT_EQ(Path().Uart->Read32(0x14), 0x00000001u);
    EXPECT_EQ(Path().Uart->Read32(0x18), UartBase | 1);
    EXPECT_EQ(BarReads(), (std::vector<uint16_t>{0x10, 0x18, 0x18}));
  }
}

namespace {
struct Breakage {
  std::string Name;
  std::function<void(Topology&)> Break;
  bool BarWritten;  // the failure comes after UpdateBar32 filled an empty BAR
};

void SetWindow(Sim::PciBridge& Bridge, uint32_t FirstUnit, uint32_t LastUnit) {
  // Units of 4 KB (I/O) or 1 MB above the memory window's start.
  if (UseMmio) {
    Bridge.SetMemoryWindow(MemoryWindowFirst + FirstUnit * 0x100000, MemoryWindowFirst + LastUnit * 0x100000 + 0xFFFFF);
  } else {
    Bridge.SetIoWindow(FirstUnit * 0x1000, LastUnit * 0x1000 + 0xFFF);
  }
}

std::vector<Breakage> Breakages() {
  std::vector<Breakage> List;
  for (unsigned Index = 0; Index < Bridges; ++Index) {
    const std::string Name = "bridge " + std::to_string(Index) + ": ";
    const unsigned ParentLast = Bridges - Index;  // one unit past this bridge's own last unit
    List.push_back({Name + "secondary bus 0", [=](Topology& T) { T.Bridge[Index]->Set8(0x19, 0); }, false});
    List.push_back({Name + "secondary above subordinate", [=](Topology& T) { T.Bridge[Index]->Set8(0x19, 0x21); }, false});
    List.push_back({Name + "limit below base", [=](Topology& T) { SetWindow(*T.Bridge[Index], 1, 0); }, false});
    if (Index > 0) {
      List.push_back({Name + "base below the parent's", [=](Topology& T) {
                        SetWindow(*T.Bridge[Index - 1], 1, ParentLast);
                        SetWindow(*T.Bridge[Index], 0, 0);
                      }, false});
      List.push_back({Name + "base above the parent's limit",
                      [=](Topology& T) { SetWindow(*T.Bridge[Index], ParentLast + 1, ParentLast + 1); }, false});
      List.push_back({Name + "limit above the parent's",
                      [=](Topology& T) { SetWindow(*T.Bridge[Index], 0, ParentLast + 1); }, false});
    }
    if (!UseMmio && Index % 2 == 1) {
      List.push_back({Name + "32-bit I/O limit beyond 64 KB",
                      [=](Topology& T) { T.Bridge[Index]->Set16(0x32, 0x0001); }, false});
    }
  }
  List.push_back({"no BAR of the build's kind", [](Topology& T) {
                    for (uint16_t Register = 0x10; Register <= 0x24; Register += 4) {
                      T.Uart->Set32(Register, UseMmio ? 0x1 : 0x0);
                    }
                  }, false});
  if (!UseMmio || Bridges > 0) {
    List.push_back({"BAR holds an address outside the window",
                    [](Topology& T) { T.Uart->Set32(0x10, UseMmio ? 0xFD000000 : 0x15001); }, false});
  }
  if (Bridges > 0) {
    List.push_back({"UartBase outside the last window",
                    [](Topology& T) { SetWindow(*T.Bridge[Bridges - 1], 1, 1); }, true});
  }
  return List;
}
}  // namespace

TEST_F(FindUartBaseTest, UnusableWay_ReturnsZeroBeforeTheRegisterItWouldWrite) {
  for (const Breakage& Each : Breakages()) {
    SCOPED_TRACE(Each.Name);
    Build();
    Each.Break(Path());
    EXPECT_EQ(FindUartBase(), 0u);
    std::vector<std::string> Expected;
    if (Each.BarWritten) {
      Expected.push_back(ConfigWrite(Path().Bus[Bridges], UartHop(), 0x10, 4, UartBase));
    }
    EXPECT_EQ(Writes(Trace()), Expected);
  }
}
