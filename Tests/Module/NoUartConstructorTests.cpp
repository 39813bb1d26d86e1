// A board without a usable UART: the constructor's failure cannot reach any
// line, so it shows in the trap that follows it, and the record is still published.
#include <gtest/gtest.h>

#include "BuildSettings.h"
#include "ModuleBoard.h"

static_assert(Settings::UartPciDeviceList[0].Device != UartPciDeviceListEnd,
              "this test needs a build whose UART lies behind PCI bridges");

TEST(EarlyReport, ConstructorWithoutUart_IsReportedByItsTrapAndTheRecordIsPublished) {
  ModuleBoard Run;
  Run.Board.SetLevelMask(0xFFFFFFFF);
  EXPECT_EQ(Run.Boot(), EFI_SUCCESS);
  EXPECT_EQ(Run.Transcript(), "");
  EXPECT_EQ(Run.Board.Processor().Breakpoints(), 1u);
  EXPECT_NE(Run.Record(), nullptr);
}
