// The number syntax of the runner's switches and the core's scenario
// settings: what is taken, what is refused and in which words.
#include "NumberSyntax.h"

#include <gtest/gtest.h>

#include <string>

namespace {
using NumberSyntax::Verdict;

struct Row {
  const char* Text;
  bool Mask;
  UINT64 Most;
  Verdict Result;
  UINT64 Value;
};

constexpr UINT64 Word = 0xFFFFFFFF;

constexpr Row Rows[] = {
    // Decimal and hexadecimal, at and past the field's limits.
    {"0", false, 0xFF, Verdict::Number, 0},
    {"255", false, 0xFF, Verdict::Number, 255},
    {"256", false, 0xFF, Verdict::TooLarge, 0},
    {"0xFF", false, 0xFF, Verdict::Number, 255},
    {"0x100", false, 0xFF, Verdict::TooLarge, 0},
    {"0X1f", false, 0xFF, Verdict::Number, 31},
    {"4294967295", false, Word, Verdict::Number, Word},
    {"4294967296", false, Word, Verdict::TooLarge, 0},
    {"0xFFFFFFFF", true, Word, Verdict::Number, Word},
    {"0x100000000", true, Word, Verdict::TooLarge, 0},
    // Leading zeros count as digits, not as a prefix; a long run still ends.
    {"0x0000000000000000000000001", true, Word, Verdict::Number, 1},
    {"99999999999999999999999999", false, Word, Verdict::TooLarge, 0},
    // Not numbers: nothing, a lone prefix, signs, blanks, hex digits bare.
    {"", false, Word, Verdict::NotANumber, 0},
    {"0x", false, Word, Verdict::NotANumber, 0},
    {"-1", false, Word, Verdict::NotANumber, 0},
    {" 1", false, Word, Verdict::NotANumber, 0},
    {"1 ", false, Word, Verdict::NotANumber, 0},
    {"zz", true, Word, Verdict::NotANumber, 0},
    {"8000000A", true, Word, Verdict::NotANumber, 0},
    {"0x8000000G", true, Word, Verdict::NotANumber, 0},
    // Masks and statuses: one digit is the same in both bases; more digits
    // that also fit the field as hexadecimal are refused; too many for
    // hexadecimal can only be decimal.
    {"7", true, Word, Verdict::Number, 7},
    {"10", true, Word, Verdict::AmbiguousMask, 10},
    {"80000000", true, Word, Verdict::AmbiguousMask, 80000000},
    {"99999999", true, Word, Verdict::AmbiguousMask, 99999999},
    {"123456789", true, Word, Verdict::Number, 123456789},
    {"2147483647", true, Word, Verdict::Number, 2147483647},
    {"4294967296", true, Word, Verdict::TooLarge, 0},
    {"80000000", false, Word, Verdict::Number, 80000000},  // a count, not a mask
};

TEST(NumberSyntax, EveryRow_ReadsAsTabled) {
  for (const Row& Each : Rows) {
    const std::string Text = Each.Text;
    const NumberSyntax::Reading Got =
        NumberSyntax::Read(Text.data(), static_cast<UINT32>(Text.size()), Each.Mask, Each.Most);
    EXPECT_EQ(Got.Result, Each.Result) << '"' << Each.Text << "\" mask " << Each.Mask;
    EXPECT_EQ(Got.Value, Each.Value) << '"' << Each.Text << '"';
  }
}

TEST(NumberSyntax, LengthBoundsTheText_NoTerminatorNeeded) {
  // The core reads values out of fw_cfg items that are not terminated where
  // the value ends.
  const char Text[] = {'0', 'x', '4', '2', 'z', 'z'};
  const NumberSyntax::Reading Got = NumberSyntax::Read(Text, 4, true, Word);
  EXPECT_EQ(Got.Result, Verdict::Number);
  EXPECT_EQ(Got.Value, 0x42u);
}

TEST(NumberSyntax, AmbiguousMask_RefusedInTheRunnersWords) {
  CHAR8 Why[NumberSyntax::WhyBytes];
  const UINT32 Length = NumberSyntax::WhyAmbiguous("80000000", 8, 80000000, Why);
  EXPECT_STREQ(Why,
               "would read as decimal 80000000 (0x04C4B400); masks and statuses are written in hexadecimal: "
               "0x80000000");
  EXPECT_EQ(Length, std::string(Why).size());
}

TEST(NumberSyntax, LongestAmbiguousMask_FitsTheMessageWhole) {
  // Fifteen digits fit a field just below 2^60 as hexadecimal; the refusal
  // must still name them all and end in its terminator.
  const std::string Digits(15, '9');
  const UINT64 Most = (UINT64{1} << 60) - 1;
  const NumberSyntax::Reading Got = NumberSyntax::Read(Digits.data(), 15, true, Most);
  ASSERT_EQ(Got.Result, Verdict::AmbiguousMask);
  EXPECT_EQ(Got.Value, 999999999999999u);
  CHAR8 Why[NumberSyntax::WhyBytes + 4];
  std::fill(std::begin(Why), std::end(Why), '\xA5');
  NumberSyntax::WhyAmbiguous(Digits.data(), 15, Got.Value, reinterpret_cast<CHAR8(&)[NumberSyntax::WhyBytes]>(Why));
  EXPECT_EQ(std::string(Why),
            "would read as decimal " + Digits + " (0x00038D7EA4C67FFF); masks and statuses are written in "
            "hexadecimal: 0x" + Digits);
  for (size_t Index = NumberSyntax::WhyBytes; Index < sizeof(Why); ++Index) {
    EXPECT_EQ(Why[Index], '\xA5') << "written past the message buffer at " << Index;
  }
}
}  // namespace
