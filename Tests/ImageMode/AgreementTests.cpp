// Every board scenario of this build variant runs on the host build and on
// the variant's image; the two must agree on everything the module did.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "Scenarios.h"

namespace {
const std::vector<const Agreement::Scenario*>& Mine() {
  static const std::vector<const Agreement::Scenario*> Found = Agreement::ScenariosOf(QEL_AGREE_VARIANT);
  return Found;
}

class Agree : public ::testing::TestWithParam<const Agreement::Scenario*> {};

TEST_P(Agree, HostBuildAndImage) {
  const Agreement::Scenario& Which = *GetParam();
  const Agreement::Record Host = Agreement::RunOnHost(Which);
  ASSERT_FALSE(Which.Expect.empty()) << "a scenario says how it must end";
  ASSERT_TRUE(Host.Outcome.starts_with(Which.Expect)) << "the host run itself ended otherwise: " << Host.Outcome;
  if (Which.ExpectCom1) {
    EXPECT_EQ(Host.Com1, *Which.ExpectCom1);
  }
  if (Which.ExpectCom2) {
    EXPECT_EQ(Host.Com2, *Which.ExpectCom2);
  }
  const Agreement::Record Image = Agreement::RunOnImage(Which, QEL_AGREE_IMAGE);
  EXPECT_EQ(Agreement::FirstDifference(Host, Image), "");
  std::printf("image: %llu instructions, %u bytes of stack\n", static_cast<unsigned long long>(Image.Instructions),
              Image.StackBytes);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Agree, ::testing::ValuesIn(Mine()),
                         [](const ::testing::TestParamInfo<const Agreement::Scenario*>& Info) {
                           return Info.param->Name;
                         });
}  // namespace

namespace {
// The image's figures per scenario: instructions executed and the deepest
// stack, repeatable counts of the run the test compares.
int PrintFigures() {
  std::vector<std::pair<std::string, Agreement::Record>> Rows;
  const std::string Heading = QEL_AGREE_VARIANT " scenario";
  size_t NameWidth = Heading.size();
  for (const Agreement::Scenario* Which : Mine()) {
    Rows.emplace_back(Which->Name, Agreement::RunOnImage(*Which, QEL_AGREE_IMAGE));
    NameWidth = std::max(NameWidth, Which->Name.size());
  }
  // The outcome last, whole: a stall's reason is long.
  const int Name = static_cast<int>(NameWidth);
  std::printf("%-*s %12s %7s  %s\n", Name, Heading.c_str(), "instructions", "stack", "outcome");
  for (const auto& [Scenario, Image] : Rows) {
    std::printf("%-*s %12llu %7u  %s\n", Name, Scenario.c_str(), static_cast<unsigned long long>(Image.Instructions),
                Image.StackBytes, Image.Outcome.c_str());
  }
  return 0;
}
}  // namespace

// Skips (77) when the firmware build has not made the image, unless tests are
// only being listed. --figures prints the image's figures instead. A variant
// listed for agreement without a scenario fails even the listing, so that the
// build stops at it rather than pass a program that compares nothing.
int main(int Count, char** Arguments) {
  ::testing::InitGoogleTest(&Count, Arguments);
  if (Mine().empty()) {
    std::printf("no scenario in Tests/ImageMode/Scenarios.cpp runs on variant " QEL_AGREE_VARIANT
                ", which cmake/Variants.cmake lists for agreement: add its scenarios or drop the role\n");
    return 1;
  }
  const bool Figures = Count == 2 && std::string(Arguments[1]) == "--figures";
  if (!GTEST_FLAG_GET(list_tests) && !std::ifstream(QEL_AGREE_IMAGE)) {
    std::printf("no image %s: build the firmware preset first\n", QEL_AGREE_IMAGE);
    return 77;
  }
  return Figures ? PrintFigures() : RUN_ALL_TESTS();
}
