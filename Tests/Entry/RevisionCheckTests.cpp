// A module built to require a PEI services revision.
#include <gtest/gtest.h>

#include "Processor.h"
#include "Library/PeimEntryPoint.h"
#include "NativeServices.h"
#include "RecordingDebugLib.h"

TEST(RevisionCheck, OlderTable_IsReportedAndTheModuleStillRuns) {
  Recorded::Clear();
  Sim::Processor Processor;
  Pei::NativeServices Foundation(0x00010045);
  EXPECT_EQ(ModuleEntry(nullptr, Foundation.Services()), EFI_SUCCESS);
  ASSERT_EQ(Recorded::Assertions().size(), 1u);
  EXPECT_EQ(Recorded::Assertions()[0],
            (Recorded::Assertion{"Library/PeimEntryPoint/PeimEntryPoint.cpp", 46,
                                 "(*PeiServices)->Hdr.Revision >= _gPeimRevision"}));
  EXPECT_EQ(Foundation.InstalledCount(), 1u);
}

TEST(RevisionCheck, EqualOrNewerTable_Passes) {
  for (uint32_t Revision : {0x00010046u, 0x00010050u, 0x80000000u}) {
    Recorded::Clear();
    Sim::Processor Processor;
    Pei::NativeServices Foundation(Revision);
    EXPECT_EQ(ModuleEntry(nullptr, Foundation.Services()), EFI_SUCCESS);
    EXPECT_TRUE(Recorded::Assertions().empty()) << std::hex << Revision;
  }
}
