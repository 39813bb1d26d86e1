// What follows an assertion report in each reporting policy: a trap, a halt
// with its diagnostic codes, or nothing; and whether messages print at all.
#include <gtest/gtest.h>

#include <vector>

#include "BuildSettings.h"
#include "Library/HaltCodes.h"
#include "ModuleBoard.h"

namespace {
const std::string AssertionLine = "ASSERT QelVersionPei/QelVersionPei.cpp(97): !EFI_ERROR (Status)\r\n";

struct Expected {
  std::string Transcript;
  unsigned Breakpoints;
  std::vector<uint32_t> HaltCodes;
};

Expected ForThisBuild() {
  switch (Settings::DebugControlMask) {
    case 0x1F:
      return {AllocationReport97, 1, {}};
    case 0x21:
      return {AssertionLine, 0, {HaltEnterCode, HaltLeaveCode}};
    case 0x03:
      return {AllocationReport97, 0, {}};
    case 0x00:
      return {"", 0, {}};
  }
  ADD_FAILURE() << "no expectation for DebugControlMask " << int{Settings::DebugControlMask};
  return {};
}
}  // namespace

TEST(ReportingPolicy, FailedAllocation_IsFollowedAsThisBuildSays) {
  ModuleBoard Run;
  Run.Board.SetLevelMask(0xFFFFFFFF);
  Run.Foundation.FailAllocation(1, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Run.Boot(), EFI_OUT_OF_RESOURCES);
  const Expected Want = ForThisBuild();
  EXPECT_EQ(Run.Transcript(), Want.Transcript);
  EXPECT_EQ(Run.Board.Processor().Breakpoints(), Want.Breakpoints);
  EXPECT_EQ(Run.Board.Diagnostics().Codes(), Want.HaltCodes);
  EXPECT_EQ(Run.Board.Processor().SpinsReleased(), Want.HaltCodes.empty() ? 0u : 1u);
}

TEST(ReportingPolicy, SuccessfulBoot_PrintsNothingInAnyBuild) {
  ModuleBoard Run;
  Run.Board.SetLevelMask(0xFFFFFFFF);
  EXPECT_EQ(Run.Boot(), EFI_SUCCESS);
  EXPECT_EQ(Run.Transcript(), "");
  EXPECT_NE(Run.Record(), nullptr);
}
