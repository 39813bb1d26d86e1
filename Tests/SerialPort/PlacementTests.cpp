// Register placement builds: a memory-mapped UART and strided registers. Built
// once per placement variant; the expectations follow the build's settings.
#include <gtest/gtest.h>

#include <string>

#include "BuildSettings.h"
#include "BusTrace.h"
#include "Library/SerialPortLib.h"
#include "Board.h"

using namespace SerialTrace;

namespace {
constexpr uint32_t Stride = Settings::UartRegisterStride;
constexpr uint32_t WindowEnd(uint32_t Base) { return Base + 8 * Stride - 1; }

Sim::Board::Layout BuildLayout() {
  Sim::Board::Layout Wiring;
  Wiring.Com1 = {Settings::UartBase, Stride, Settings::UartUseMmio};
  Wiring.Com2 = {Sim::Board::Com2Base, Settings::UartUseMmio ? 1 : Stride, false};
  return Wiring;
}

BusEvent Put(uint32_t Base, uint32_t Index, uint32_t Value) {
  const uint32_t Address = Base + Index * Stride;
  return Settings::UartUseMmio ? Write(Address, Value) : Out(Address, Value);
}

// The writes SerialInit makes to a fresh UART: the two probe writes of LCR,
// then the reprogramming at divisor 1.
std::vector<BusEvent> FreshUartWrites(uint32_t Base) {
  return {Put(Base, 3, 0x80), Put(Base, 3, 0x00), Put(Base, 3, 0x80), Put(Base, 1, 0x00), Put(Base, 0, 0x01),
          Put(Base, 3, 0x03), Put(Base, 2, 0x00), Put(Base, 2, 0x01), Put(Base, 4, 0x00)};
}

UINTN Send(const std::string& Text) {
  return SerialWrite(reinterpret_cast<const UINT8*>(Text.data()), static_cast<UINTN>(Text.size()));
}
}  // namespace

TEST(RegisterPlacement, SerialInit_ProgramsTheUartAtItsStridedRegisters) {
  Sim::Board Board(BuildLayout());
  ASSERT_EQ(SerialInit(), EFI_SUCCESS);
  const auto& Trace = Board.Processor().Trace();
  EXPECT_EQ(Writes(Touching(Trace, Settings::UartBase, WindowEnd(Settings::UartBase))),
            FreshUartWrites(Settings::UartBase));
  EXPECT_EQ(Board.Com1().Divisor(), 1);
  EXPECT_EQ(Board.Com1().Lcr(), 0x03);
  EXPECT_TRUE(Board.Com1().FifosEnabled());
  if constexpr (!Settings::UartUseMmio) {
    EXPECT_EQ(Writes(Touching(Trace, 0x2F8, WindowEnd(0x2F8))), FreshUartWrites(0x2F8));
  }
}

TEST(RegisterPlacement, SerialWrite_ReachesTheLine) {
  Sim::Board Board(BuildLayout());
  ASSERT_EQ(SerialInit(), EFI_SUCCESS);
  const std::string Text = "placed 0123456789 ABCDEFGHIJ abcdefghij\r\n";
  EXPECT_EQ(Send(Text), Text.size());
  EXPECT_EQ(Board.Com1().Transmitted(), Text);
  EXPECT_EQ(Board.Com2().Transmitted(), Settings::UartUseMmio ? "" : Text);
  EXPECT_EQ(Board.Com1().Overruns(), 0u);
}

// Mended: a memory-mapped build drives only the UART that was found; the
// legacy port numbers 0x3F8 and 0x2F8 taken as memory addresses would land in
// low RAM (on the host they would not even be mapped).
TEST(RegisterPlacement, MemoryMappedBuild_TouchesNoMemoryOutsideTheUartAndNoLegacyUart) {
  if constexpr (!Settings::UartUseMmio) {
    GTEST_SKIP() << "a port build drives both legacy UARTs";
  }
  Sim::Board Board(BuildLayout());
  ASSERT_EQ(SerialInit(), EFI_SUCCESS);
  ASSERT_EQ(Send("mmio\n"), 5u);
  ASSERT_EQ(SerialWrite(reinterpret_cast<const UINT8*>(""), 0), 0u);
  for (const BusEvent& Event : Board.Processor().Trace()) {
    const bool Memory = Event.What == Kind::MemoryRead || Event.What == Kind::MemoryWrite;
    if (Memory) {
      EXPECT_TRUE(Within(Event, Settings::UartBase, WindowEnd(Settings::UartBase))) << Sim::Describe(Event);
    } else {
      EXPECT_FALSE(Within(Event, 0x2F8, 0x2FF) || Within(Event, 0x3F8, 0x3FF)) << Sim::Describe(Event);
    }
  }
  EXPECT_EQ(Board.Com2().Lcr(), 0x00);
}
