// The shipped build: with the list empty the UART is at the fixed base and
// no PCI register is touched.
#include <gtest/gtest.h>

#include "Board.h"
#include "Library/SerialPortLib.h"
#include "PciHostBridge.h"

TEST(FindUartBaseEmptyList, ReturnsTheFixedBaseAndTouchesNothing) {
  Sim::Board Board;
  Sim::PciHostBridge Host{Board};
  EXPECT_EQ(FindUartBase(), 0x3F8u);
  EXPECT_TRUE(Board.Trace().empty());
  EXPECT_TRUE(Host.Cycles().empty());
}
