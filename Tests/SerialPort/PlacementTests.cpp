// Register placement builds: a memory-mapped UART and strided registers. Built
// once per placement variant; the expectations follow the build's settings.
#include <gtest/gtest.h>

#include <string>

#include "BusTrace.h"
#include "PlacementSupport.h"

using namespace Placement;
using namespace SerialTrace;

namespace {
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
