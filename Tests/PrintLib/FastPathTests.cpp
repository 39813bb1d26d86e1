// The engine's own shortcuts: plain runs copied whole, texts measured only
// as far as padding needs, numbers above 32 bits written in pieces.
#include <cstdint>

#include "PrintTestSupport.h"

using namespace PrintTest;

namespace {
class FastPathTest : public PrintTestBase {};

// Every size from 0 to past the full output gives a prefix of it, for byte
// and for CHAR16 output, and MeasureOnly counts all of it.
void ExpectPrefixesAtEverySize(UINTN Caller, const void* Format, const std::vector<UINT32>& Slots,
                               const std::string& Full) {
  const size_t CharacterSize = (Caller & PrintFlags::WideOutput) != 0 ? 2 : 1;
  std::string Expected;
  for (const char Character : Full) {
    Expected += Character;
    if (CharacterSize == 2) {
      Expected += '\0';
    }
  }
  EXPECT_EQ(FormatEngine(nullptr, 0, Caller | PrintFlags::MeasureOnly, Format, nullptr, Slots.data()), Full.size());
  for (UINTN Size = 0; Size <= Full.size() + 2; ++Size) {
    GuardedBuffer Out(Size * CharacterSize);
    const UINTN Length = FormatEngine(Out.Data(), Size, Caller, Format, nullptr, Slots.data());
    const UINTN Fits = Size == 0 ? 0 : std::min<UINTN>(Size - 1, Full.size());
    ASSERT_EQ(Length, Fits) << Size;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Out.Data()), Fits * CharacterSize),
              Expected.substr(0, Fits * CharacterSize))
        << Size;
    EXPECT_TRUE(Out.UnwrittenFrom(Size == 0 ? 0 : (Fits + 1) * CharacterSize)) << Size;
    EXPECT_TRUE(Out.GuardsIntact()) << Size;
  }
}

TEST_F(FastPathTest, RunEndingExactlyAtTheBound_StartsNoFurtherElement) {
  // Sizes 5 and 6 end the buffer right after "abcd" and after "abcd\r": the
  // element after each must neither print nor consume anything.
  EXPECT_EQ(PrintSized(5, "abcd%d|", 7).Text, "abcd");
  EXPECT_EQ(PrintSized(5, "abcd\nef").Text, "abcd");
  EXPECT_EQ(PrintSized(6, "abcd\nef").Text, "abcd\r");
  EXPECT_EQ(PrintSized(7, "abcd\nef").Text, "abcd\r\n");
  ExpectPrefixesAtEverySize(0, "abcd%5d|xy", {7}, "abcd    7|xy");
}

TEST_F(FastPathTest, PaddingSignsAndZeros_AreCutAtTheBoundInByteAndChar16Output) {
  // Blanks before and after, a sign, zeros: each repeated character is
  // counted whole and stored only as far as the buffer goes.
  const std::vector<UINT32> Slots = {42, 7, static_cast<UINT32>(-42), 3, 'z'};
  const std::string Full = "    42|7    |-00042|0003|   z|";
  ExpectPrefixesAtEverySize(0, "%6d|%-5d|%+06d|%.4d|%4c|", Slots, Full);
  ExpectPrefixesAtEverySize(PrintFlags::WideOutput, "%6d|%-5d|%+06d|%.4d|%4c|", Slots, Full);
}

TEST_F(FastPathTest, LiteralRunsSplitByLineEnds_KeepEveryCharacter) {
  const std::string Full = "ab\r\ncd\r\nef\r\rgh\r\n";
  ExpectPrefixesAtEverySize(0, "ab\ncd\r\nef\r\rgh\n\r", {}, Full);
  ExpectPrefixesAtEverySize(PrintFlags::WideOutput, "ab\ncd\r\nef\r\rgh\n\r", {}, Full);
  EXPECT_EQ(Print("%%ab\n%d\ncd%%", 5), "%ab\r\n5\r\ncd%");
}

TEST_F(FastPathTest, SixtyFourBitHex_ZeroFillsAndKeepsZerosInsidePieces) {
  const struct {
    const CHAR8* Format;
    UINT64 Value;
    const CHAR8* Expected;
  } Cases[] = {
      {"%016lx", 0x123456789ABCDEF0ull, "123456789ABCDEF0"},
      {"%020lx", 0x100000000ull, "00000000000100000000"},
      {"%20lX", 0xF0000001ull << 8, "0000000000F000000100"},
      {"%lx", 0x1000000000000000ull, "1000000000000000"},
      {"%lx", 0x0000000100000001ull, "100000001"},
      {"%lx", 0x8000000000000000ull, "8000000000000000"},
      {"%-18lx|", 0xFFFFFFFFFull, "FFFFFFFFF         |"},
      {"%.12lx", 0x100000000ull, "000100000000"},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(Print(Case.Format, Case.Value), Case.Expected) << Case.Format;
  }
}

TEST_F(FastPathTest, SixtyFourBitDecimal_KeepsZerosInsidePiecesAndGroupsAcrossThem) {
  const struct {
    const CHAR8* Format;
    UINT64 Value;
    const CHAR8* Expected;
  } Cases[] = {
      {"%lu", 10000000000000000000ull, "10000000000000000000"},
      {"%lu", 4294967296ull, "4294967296"},
      {"%lu", 1000000000000000001ull, "1000000000000000001"},
      {"%ld", static_cast<UINT64>(-1000000000000LL), "-1000000000000"},
      {"%,lu", 12345678901234567890ull, "12,345,678,901,234,567,890"},
      {"%,lu", 1000000000000ull, "1,000,000,000,000"},
      {"%,ld", static_cast<UINT64>(-4294967296LL), "-4,294,967,296"},
      // The widest texts: every separator, in pieces and between them.
      {"%,lu", UINT64_MAX, "18,446,744,073,709,551,615"},
      {"%,ld", static_cast<UINT64>(INT64_MIN), "-9,223,372,036,854,775,808"},
      {"%025ld", static_cast<UINT64>(INT64_MIN), "-000009223372036854775808"},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(Print(Case.Format, Case.Value), Case.Expected) << Case.Format;
  }
}

TEST_F(FastPathTest, WideFormatWithLongLiteralRun_CopiesAndTruncatesItWhole) {
  std::u16string Format;
  std::string Full;
  for (int Index = 0; Index < 300; ++Index) {
    const char Character = static_cast<char>('a' + Index % 26);
    Format += static_cast<char16_t>(Character);
    Full += Character;
  }
  Format += u"%d\n";
  Full += "9\r\n";
  ExpectPrefixesAtEverySize(PrintFlags::WideFormat, Format.c_str(), {9}, Full);
  ExpectPrefixesAtEverySize(PrintFlags::WideFormat | PrintFlags::WideOutput, Format.c_str(), {9}, Full);
}

TEST_F(FastPathTest, TextsLongerThanTheirField_AreMeasuredOnlyAsFarAsPaddingNeeds) {
  const std::string Long(300, 'q');
  EXPECT_EQ(Print("%5a|", "abcdefgh"), "abcdefgh|");
  EXPECT_EQ(Print("%-5a|", "abcdefgh"), "abcdefgh|");
  EXPECT_EQ(Print("%10.3a|", "abcdefgh"), "       abc|");
  EXPECT_EQ(PrintSized(8, "%20a", "abc").Text, "       ");
  EXPECT_EQ(PrintSized(8, "%20a", Long.c_str()).Text, "qqqqqqq");
  const std::vector<UINT32> Slots = {Slot(Long.c_str())};
  EXPECT_EQ(FormatEngine(nullptr, 0, PrintFlags::MeasureOnly, "%5a|", nullptr, Slots.data()), 301u);
  EXPECT_EQ(FormatEngine(nullptr, 0, PrintFlags::MeasureOnly, "%-400a|", nullptr, Slots.data()), 401u);
}
}  // namespace
