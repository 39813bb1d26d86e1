// String lengths and sizes, their limits and null strings.
#include <gtest/gtest.h>

#include <vector>

#include "Library/BaseLib.h"
#include "RecordingDebugLib.h"

namespace {
const Recorded::Assertion WideNull{"Library/BaseLib/String.cpp", 176, "String != ((void *) 0)"};
const Recorded::Assertion WideTooLong{"Library/BaseLib/String.cpp", 187,
                                      "Length < _gPcd_FixedAtBuild_PcdMaximumUnicodeStringLength"};
const Recorded::Assertion AsciiNull{"Library/BaseLib/String.cpp", 1235, "String != ((void *) 0)"};

std::vector<CHAR16> WideOf(size_t Length) {
  std::vector<CHAR16> Text(Length + 1, u'x');
  Text[Length] = 0;
  return Text;
}

class StringTest : public ::testing::Test {
protected:
  void SetUp() override { Recorded::Clear(); }
};
}  // namespace

TEST_F(StringTest, EmptyStrings_HaveZeroLengthAndTerminatorSize) {
  const CHAR16 Wide[] = {0};
  EXPECT_EQ(WideLength(Wide), 0u);
  EXPECT_EQ(StrSize(Wide), 2u);
  EXPECT_EQ(AsciiLength(""), 0u);
  EXPECT_EQ(AsciiStrSize(""), 1u);
  EXPECT_TRUE(Recorded::Assertions().empty());
}

TEST_F(StringTest, Sizes_CountTheTerminatorInBytes) {
  const CHAR16 Wide[] = {u'a', u'b', u'c', 0};
  EXPECT_EQ(WideLength(Wide), 3u);
  EXPECT_EQ(StrSize(Wide), 8u);
  EXPECT_EQ(AsciiStrSize("TORVA!V9"), 9u);
}

TEST_F(StringTest, WideStringAtLimit_RaisesNothing) {
  const auto Text = WideOf(1000000);
  EXPECT_EQ(WideLength(Text.data()), 1000000u);
  EXPECT_TRUE(Recorded::Assertions().empty());
}

TEST_F(StringTest, WideStringOneOverLimit_ReportsOnceAndStillCountsAll) {
  const auto Text = WideOf(1000001);
  EXPECT_EQ(WideLength(Text.data()), 1000001u);
  ASSERT_EQ(Recorded::Assertions().size(), 1u);
  EXPECT_EQ(Recorded::Assertions()[0], WideTooLong);
}

TEST_F(StringTest, WideStringFarOverLimit_ReportsEveryCharacterPastIt) {
  const auto Text = WideOf(1000003);
  EXPECT_EQ(StrSize(Text.data()), 2u * 1000004u);
  EXPECT_EQ(Recorded::Assertions().size(), 3u);
}

TEST_F(StringTest, LongNarrowString_HasNoLimit) {
  const std::string Text(3000000, 'a');
  EXPECT_EQ(AsciiLength(Text.c_str()), 3000000u);
  EXPECT_TRUE(Recorded::Assertions().empty());
}

TEST_F(StringTest, NullStrings_AreReportedAndCountAsEmpty) {
  EXPECT_EQ(WideLength(nullptr), 0u);
  EXPECT_EQ(StrSize(nullptr), 2u);
  EXPECT_EQ(AsciiLength(nullptr), 0u);
  EXPECT_EQ(AsciiStrSize(nullptr), 1u);
  const std::vector<Recorded::Assertion> Expected{WideNull, WideNull, AsciiNull, AsciiNull};
  EXPECT_EQ(Recorded::Assertions(), Expected);
}
