// A module built to require a PEI services revision.
#include <gtest/gtest.h>

#include "Board.h"
#include "Library/PeimEntryPoint.h"
#include "PeiFoundation.h"
#include "RecordingDebugLib.h"

TEST(RevisionCheck, OlderTable_IsReportedAndTheModuleStillRuns) {
  Recorded::Clear();
  Sim::Board Board;
  Sim::PeiFoundation Foundation(0x00010045);
  EXPECT_EQ(ModuleEntry(nullptr, Foundation.Services()), EFI_SUCCESS);
  ASSERT_EQ(Recorded::Assertions().size(), 1u);
  EXPECT_EQ(Recorded::Assertions()[0],
            (Recorded::Assertion{"Library/PeimEntryPoint/PeimEntryPoint.cpp", 46,
                                 "(*PeiServices)->Hdr.Revision >= _gPeimRevision"}));
  EXPECT_EQ(Foundation.Installed().size(), 1u);
}

TEST(RevisionCheck, EqualOrNewerTable_Passes) {
  for (uint32_t Revision : {0x00010046u, 0x00010050u, 0x80000000u}) {
    Recorded::Clear();
    Sim::Board Board;
    Sim::PeiFoundation Foundation(Revision);
    EXPECT_EQ(ModuleEntry(nullptr, Foundation.Services()), EFI_SUCCESS);
    EXPECT_TRUE(Recorded::Assertions().empty()) << std::hex << Revision;
  }
}
