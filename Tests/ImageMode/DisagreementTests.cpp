// Built into the shipped settings' program only.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "Scenarios.h"

// The comparison must be able to fail: the shipped settings' host build
// against the release image (checks and messages off) part at the first
// access where the reports begin.
TEST(Agreement, ImageOfAnotherBuild_Disagrees) {
  if (!std::ifstream(QEL_RELEASE_IMAGE)) {
    GTEST_SKIP() << "no image " << QEL_RELEASE_IMAGE << ": build the firmware preset first";
  }
  for (const Agreement::Scenario* Which : Agreement::ScenariosOf("Default")) {
    if (Which->Name == "FirstAllocationFails") {
      const std::string Difference =
          Agreement::FirstDifference(Agreement::RunOnHost(*Which), Agreement::RunOnImage(*Which, QEL_RELEASE_IMAGE));
      EXPECT_TRUE(Difference.starts_with("the access traces part at access #")) << Difference;
      std::printf("%s\n", Difference.c_str());
      return;
    }
  }
  ADD_FAILURE() << "no FirstAllocationFails scenario";
}

