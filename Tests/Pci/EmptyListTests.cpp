// The shipped build: with the list empty the UART is at the fixed base and
// no PCI register is touched.
#include <gtest/gtest.h>

#include "Processor.h"
#include "Library/SerialPortLib.h"
#include "PciHostBridge.h"

TEST(FindUartBaseEmptyList, ReturnsTheFixedBaseAndTouchesNothing) {
  Sim::Processor Processor;
  Sim::PciHostBridge Host{Processor};
  EXPECT_EQ(FindUartBase(), 0x3F8u);
  EXPECT_TRUE(Processor.Trace().empty());
  EXPECT_TRUE(Host.Cycles().empty());
}
