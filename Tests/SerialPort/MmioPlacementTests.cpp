// Register placement of a memory-mapped build: only the UART that was found is
// driven. Built only for the memory-mapped placement variants.
#include <gtest/gtest.h>

#include "BusTrace.h"
#include "PlacementSupport.h"

using namespace Placement;
using namespace SerialTrace;

static_assert(Settings::UartUseMmio, "built only for memory-mapped placements");

// Mended: a memory-mapped build drives only the UART that was found; the
// legacy port numbers 0x3F8 and 0x2F8 taken as memory addresses would land in
// low RAM (on the host they would not even be mapped).
TEST(RegisterPlacement, MemoryMappedBuild_TouchesNoMemoryOutsideTheUartAndNoLegacyUart) {
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
