// Reports raised before the console is up: the revision check of the entry,
// and the constructor's own failure on a board without a usable UART.
#include <gtest/gtest.h>

#include "BuildSettings.h"
#include "ModuleBoard.h"

TEST(EarlyReport, RevisionCheck_ReachesALineLeftWithFifosOn) {
  if constexpr (Settings::_gPeimRevision == 0) {
    GTEST_SKIP() << "this build checks no revision";
  }
  ModuleBoard Run;
  Run.Machine.PreconfigureUarts();
  Run.Foundation.Table().Hdr.Revision = Settings::_gPeimRevision - 1;
  EXPECT_EQ(Run.Boot(), EFI_SUCCESS);
  EXPECT_EQ(Run.Transcript(),
            "ASSERT Library/PeimEntryPoint/PeimEntryPoint.cpp(46): (*PeiServices)->Hdr.Revision >= _gPeimRevision\r\n");
  EXPECT_EQ(Run.Machine.Board().Breakpoints(), 1u);
  EXPECT_NE(Run.Record(), nullptr);
}

TEST(EarlyReport, RevisionCheck_IsLostOnAFreshLineButStillTraps) {
  if constexpr (Settings::_gPeimRevision == 0) {
    GTEST_SKIP() << "this build checks no revision";
  }
  ModuleBoard Run;
  Run.Foundation.Table().Hdr.Revision = Settings::_gPeimRevision - 1;
  EXPECT_EQ(Run.Boot(), EFI_SUCCESS);
  EXPECT_EQ(Run.Transcript(), "");
  EXPECT_EQ(Run.Machine.Board().Breakpoints(), 1u);
  EXPECT_NE(Run.Record(), nullptr);
}

TEST(EarlyReport, ConstructorWithoutUart_IsReportedByItsTrapAndTheRecordIsPublished) {
  if constexpr (Settings::UartPciDeviceList[0].Device == UartPciDeviceListEnd) {
    GTEST_SKIP() << "this build's UART is always found";
  }
  ModuleBoard Run;
  Run.Machine.SetLevelMask(0xFFFFFFFF);
  EXPECT_EQ(Run.Boot(), EFI_SUCCESS);
  EXPECT_EQ(Run.Transcript(), "");
  EXPECT_EQ(Run.Machine.Board().Breakpoints(), 1u);
  EXPECT_NE(Run.Record(), nullptr);
}
