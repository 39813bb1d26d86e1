// The revision check of the entry runs before the constructor list has
// brought the console up: its report reaches a line only when an earlier
// stage left a UART with its FIFOs on.
#include <gtest/gtest.h>

#include "BuildSettings.h"
#include "ModuleBoard.h"

static_assert(Settings::_gPeimRevision != 0, "this test needs a build that checks the services revision");

TEST(EarlyReport, RevisionCheck_ReachesALineLeftWithFifosOn) {
  ModuleBoard Run;
  Run.Board.PreconfigureUarts();
  Run.Foundation.Table().Hdr.Revision = Settings::_gPeimRevision - 1;
  EXPECT_EQ(Run.Boot(), EFI_SUCCESS);
  EXPECT_EQ(Run.Transcript(),
            "ASSERT Library/PeimEntryPoint/PeimEntryPoint.cpp(46): (*PeiServices)->Hdr.Revision >= _gPeimRevision\r\n");
  EXPECT_EQ(Run.Board.Processor().Breakpoints(), 1u);
  EXPECT_NE(Run.Record(), nullptr);
}

TEST(EarlyReport, RevisionCheck_IsLostOnAFreshLineButStillTraps) {
  ModuleBoard Run;
  Run.Foundation.Table().Hdr.Revision = Settings::_gPeimRevision - 1;
  EXPECT_EQ(Run.Boot(), EFI_SUCCESS);
  EXPECT_EQ(Run.Transcript(), "");
  EXPECT_EQ(Run.Board.Processor().Breakpoints(), 1u);
  EXPECT_NE(Run.Record(), nullptr);
}
