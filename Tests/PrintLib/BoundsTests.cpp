// Bounds: truncation at every size, over-reads against a guard page, the
// null buffer and format, and the engine's reports.
#include <cstring>

#include "PrintTestSupport.h"

using namespace PrintTest;

namespace {
class BoundsTest : public PrintTestBase {};

const Recorded::Assertion NullBuffer{"Library/BasePrintLib/PrintLibInternal.cpp", 366, "Buffer != ((void *) 0)"};
const Recorded::Assertion NullAsciiString{"Library/BaseLib/String.cpp", 1235, "String != ((void *) 0)"};
const Recorded::Assertion NullWideString{"Library/BaseLib/String.cpp", 176, "String != ((void *) 0)"};

// A format with every kind of element, and the slots it takes.
const CHAR8* MixedFormat = "ab%5d|%-4a|\n%,d%c\r\n%x%%%3.1s|";
const char16_t MixedWide[] = u"xy";
std::vector<UINT32> MixedSlots() { return {42, Slot("st"), 1234567, 'Q', 0xBEEF, Slot(MixedWide)}; }
const std::string MixedFull = "ab   42|st  |\r\n1,234,567Q\r\nBEEF%  x|";

TEST_F(BoundsTest, EveryBufferSize_TruncatesToAPrefixAndTerminates) {
  const auto Slots = MixedSlots();
  ASSERT_EQ(PrintSlots(0, MixedFormat, Slots), MixedFull);
  for (UINTN Size = 0; Size <= MixedFull.size() + 2; ++Size) {
    GuardedBuffer Out(Size);
    const UINTN Length = FormatEngine(Out.Data(), Size, 0, MixedFormat, nullptr, Slots.data());
    ASSERT_TRUE(Out.GuardsIntact()) << Size;
    if (Size == 0) {
      EXPECT_EQ(Length, 0u);
      EXPECT_TRUE(Out.UnwrittenFrom(0));
      continue;
    }
    const UINTN Expected = std::min<UINTN>(Size - 1, MixedFull.size());
    EXPECT_EQ(Length, Expected) << Size;
    EXPECT_EQ(std::string(Out.Chars(), Expected), MixedFull.substr(0, Expected)) << Size;
    EXPECT_EQ(Out.Data()[Expected], 0) << Size;
    EXPECT_TRUE(Out.UnwrittenFrom(Expected + 1)) << Size;
  }
}

TEST_F(BoundsTest, EveryWideBufferSize_NeverSplitsACharacter) {
  const auto Slots = MixedSlots();
  std::string Full;
  for (const char Character : MixedFull) {
    Full += Character;
    Full += '\0';
  }
  for (UINTN Size = 0; Size <= MixedFull.size() + 2; ++Size) {
    GuardedBuffer Out(Size * 2);
    const UINTN Length = FormatEngine(Out.Data(), Size, PrintFlags::WideOutput, MixedFormat, nullptr, Slots.data());
    ASSERT_TRUE(Out.GuardsIntact()) << Size;
    const UINTN Expected = Size == 0 ? 0 : std::min<UINTN>(Size - 1, MixedFull.size());
    EXPECT_EQ(Length, Expected) << Size;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Out.Data()), Expected * 2), Full.substr(0, Expected * 2));
    if (Size != 0) {
      EXPECT_EQ(Out.Data()[Expected * 2], 0);
      EXPECT_EQ(Out.Data()[Expected * 2 + 1], 0);
      EXPECT_TRUE(Out.UnwrittenFrom(Expected * 2 + 2)) << Size;
    }
  }
}

TEST_F(BoundsTest, SmallSizes_MatchTheirEdgeCases) {
  EXPECT_EQ(PrintSized(1, "abc").Text, "");
  EXPECT_EQ(PrintSized(3, "abc").Text, "ab");
  EXPECT_EQ(PrintSized(3, "abc").Length, 2u);
  EXPECT_EQ(PrintSized(0, "abc").Length, 0u);
  // A cut may fall between the carriage return and the line feed.
  EXPECT_EQ(PrintSized(4, "ab\n").Text, "ab\r");
  EXPECT_EQ(PrintSized(4, "%5d", 1).Text, "   ");
}

TEST_F(BoundsTest, SizeBeyondTheAddressSpace_IsClampedAtItsEnd) {
  GuardedBuffer Out(16);
  EXPECT_EQ(AsciiFormat(Out.Chars(), 0xFFFFFFFF, "abc%d", 7), 4u);
  EXPECT_STREQ(Out.Chars(), "abc7");
  GuardedBuffer Wide(16);
  EXPECT_EQ(FormatToBuffer(Wide.Data(), 0x80000000, PrintFlags::WideOutput, "ab"), 2u);
  EXPECT_EQ(std::memcmp(Wide.Data(), "a\0b\0\0\0", 6), 0);
  EXPECT_TRUE(Out.GuardsIntact());
  EXPECT_TRUE(Wide.GuardsIntact());
  // A wide buffer that starts in the last byte has no room for a character:
  // nothing is written there, not even the terminator.
  EXPECT_EQ(FormatToBuffer(reinterpret_cast<VOID*>(UINTN{0xFFFFFFFF}), 16, PrintFlags::WideOutput, "ab"), 0u);
}

TEST_F(BoundsTest, FormatsEndingAtTheGuardPage_AreNotReadPastTheirEnd) {
  const struct {
    const char* Format;
    const char* Expected;
  } Cases[] = {
      {"%", ""},     {"%5", "     "}, {"%.", ""},   {"%l", ""},       {"%-", ""},
      {"%*", "  "}, {"abc", "abc"},   {"a\n", "a\r\n"}, {"a\r", "a\r"}, {"%,+ 0", ""},
      {"%d", "2"},
  };
  for (const auto& Case : Cases) {
    GuardPage Page;
    EXPECT_EQ(PrintSlots(0, Page.PlaceText(Case.Format), {2}), Case.Expected) << Case.Format;
    const std::u16string Wide(Case.Format, Case.Format + std::strlen(Case.Format));
    EXPECT_EQ(PrintSlots(PrintFlags::WideFormat, Page.PlaceWide(Wide), {2}), Case.Expected) << Case.Format;
  }
}

TEST_F(BoundsTest, StringsWithoutTerminatorWithinPrecision_AreNotReadPastIt) {
  GuardPage Page;
  EXPECT_EQ(PrintSlots(0, "%.3a|", {Slot(Page.PlaceText("abc", false))}), "abc|");
  EXPECT_EQ(PrintSlots(0, "%.2s|", {Slot(Page.PlaceWide(u"xy", false))}), "xy|");
  EXPECT_EQ(PrintSlots(0, "%.0a|%.0s|", {Slot(Page.End()), Slot(Page.End())}), "||");
  EXPECT_EQ(PrintSlots(0, "%5.1a|", {Slot(Page.PlaceText("z", false))}), "    z|");
  EXPECT_EQ(PrintSlots(0, "%a|", {Slot(Page.PlaceText("term"))}), "term|");
  EXPECT_EQ(PrintSlots(0, "%s|", {Slot(Page.PlaceWide(u"term"))}), "term|");
  EXPECT_EQ(PrintSlots(0, "%.1c", {'k'}), "k");
  const EFI_GUID Guid = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(PrintSlots(0, "%g", {Slot(Page.Place(&Guid, sizeof(Guid)))}), "00000001-0002-0003-0405-060708090A0B");
  const UINT8 Time[6] = {0xE1, 0x07, 3, 9, 8, 5};  // the printed fields only
  EXPECT_EQ(PrintSlots(0, "%t", {Slot(Page.Place(Time, sizeof(Time)))}), "03/09/2017  08:05");
}

TEST_F(BoundsTest, NullBuffer_ReportsAndReturnsZeroAtOnce) {
  EXPECT_EQ(AsciiFormat(nullptr, 10, "abc"), 0u);
  EXPECT_EQ(FormatEngine(nullptr, 10, PrintFlags::WideOutput, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(TakeReports(), (std::vector<Recorded::Assertion>{NullBuffer, NullBuffer}));
  Recorded::Clear();
  // Size 0 returns before the check; measuring needs no buffer.
  EXPECT_EQ(AsciiFormat(nullptr, 0, "abc"), 0u);
  EXPECT_EQ(FormatEngine(nullptr, 10, PrintFlags::MeasureOnly, "abc", nullptr, nullptr), 3u);
  EXPECT_TRUE(Recorded::Assertions().empty());
}

TEST_F(BoundsTest, NullFormat_ReportedByTheLengthCheckThenEmpty) {
  GuardedBuffer Out(8);
  EXPECT_EQ(AsciiFormat(Out.Chars(), 8, nullptr), 0u);
  EXPECT_EQ(Out.Data()[0], 0);
  EXPECT_TRUE(Out.UnwrittenFrom(1));
  EXPECT_EQ(FormatEngine(Out.Data(), 4, PrintFlags::WideFormat | PrintFlags::WideOutput, nullptr, nullptr, nullptr),
            0u);
  EXPECT_EQ(FormatEngine(nullptr, 0, PrintFlags::MeasureOnly, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(TakeReports(), (std::vector<Recorded::Assertion>{NullAsciiString, NullWideString, NullAsciiString}));
}

TEST_F(BoundsTest, EveryCheckSite_FiresWithItsUnitPathLineAndText) {
  // The engine reports a missing buffer itself; the size checks of the
  // format and of the result report through the length walks inside them.
  const Recorded::Assertion WideTooLong{"Library/BaseLib/String.cpp", 187,
                                        "Length < _gPcd_FixedAtBuild_PcdMaximumUnicodeStringLength"};
  const UINTN Limit = 1000000;
  std::vector<CHAR16> LongWide(Limit + 2, u'w');
  LongWide[Limit + 1] = 0;  // one character past the limit
  std::vector<CHAR16> WideOut(Limit + 2);
  const std::vector<UINT32> FillSlots = {static_cast<UINT32>(Limit + 1), 'x'};
  CHAR8 Out[8];
  const struct {
    const char* Call;
    UINTN (*Run)(const void* Wide, CHAR16* WideResult, CHAR8* Narrow, const UINT32* Slots);
    std::vector<Recorded::Assertion> Expected;
  } Cases[] = {
      {"null byte buffer", [](const void*, CHAR16*, CHAR8*, const UINT32*) { return AsciiFormat(nullptr, 10, "abc"); },
       {NullBuffer}},
      {"null CHAR16 buffer",
       [](const void*, CHAR16*, CHAR8*, const UINT32*) {
         return FormatEngine(nullptr, 4, PrintFlags::WideOutput, "abc", nullptr, nullptr);
       },
       {NullBuffer}},
      {"null byte format", [](const void*, CHAR16*, CHAR8* Narrow, const UINT32*) { return AsciiFormat(Narrow, 8, nullptr); },
       {NullAsciiString}},
      {"null CHAR16 format",
       [](const void*, CHAR16*, CHAR8* Narrow, const UINT32*) {
         return FormatEngine(Narrow, 8, PrintFlags::WideFormat, nullptr, nullptr, nullptr);
       },
       {NullWideString}},
      {"CHAR16 format one past the length limit",
       [](const void* Wide, CHAR16*, CHAR8* Narrow, const UINT32*) {
         return FormatEngine(Narrow, 1, PrintFlags::WideFormat, Wide, nullptr, nullptr);
       },
       {WideTooLong}},
      {"CHAR16 result one past the length limit",
       [](const void*, CHAR16* WideResult, CHAR8*, const UINT32* Slots) {
         return FormatEngine(WideResult, 1000002, PrintFlags::WideOutput, "%*c", nullptr, Slots);
       },
       {WideTooLong}},
  };
  for (const auto& Case : Cases) {
    Recorded::Clear();
    Case.Run(LongWide.data(), WideOut.data(), Out, FillSlots.data());
    EXPECT_EQ(Recorded::Assertions(), Case.Expected) << Case.Call;
  }
  TakeReports();
}

TEST_F(BoundsTest, LongWideOutput_ReportsTheResultLengthCheckFromStrSize) {
  // The result check measures the output with StrSize, whose length limit
  // (1000000) reports once per character beyond it.
  const UINTN Size = 1000003;
  std::vector<CHAR16> Out(Size);
  const std::vector<UINT32> Slots = {static_cast<UINT32>(Size - 1), 'x'};
  EXPECT_EQ(FormatEngine(Out.data(), Size, PrintFlags::WideOutput, "%*c", nullptr, Slots.data()), Size - 1);
  const auto Reports = TakeReports();
  ASSERT_EQ(Reports.size(), 2u);
  EXPECT_EQ(Reports[0].Line, 187u);
}
}  // namespace
