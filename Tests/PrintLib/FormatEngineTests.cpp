// Format elements: flags, width, precision, padding, line ends, caller modes
// and the argument lists.
#include <climits>

#include "PrintTestSupport.h"

using namespace PrintTest;

namespace {
class FormatEngineTest : public PrintTestBase {};

struct IntCase {
  const CHAR8* Format;
  INT32 Value;
  const CHAR8* Expected;
  INT32 Next = 0;  // the slot after Value, for rows with two elements
};

TEST_F(FormatEngineTest, FlagsWidthAndPrecision_PadAsSpecified) {
  const IntCase Cases[] = {
      {"%5d", 42, "   42"},
      {"%-5d|", 42, "42   |"},
      {"%05d", -42, "-0042"},
      {"%+5.3d", 7, " +007"},
      {"%d", 0, "0"},
      {"%.0d", 0, ""},
      {"%5.0d|", 0, "     |"},
      {"%+.0d", 0, "+"},
      {"%2d", 12345, "12345"},
      {"%.3d", 7, "007"},
      {"%08.3d", 7, "     007"},  // a precision turns zero fill off
      {"%-08d|", 7, "7       |"},  // so does left alignment
      {"%+05d", 7, "+0007"},
      {"% d", 5, " 5"},
      {"%+ d", 5, "+5"},
      {"% +d", 5, "+5"},
      {"% 05d", -5, "-0005"},
      {"%--5d|", 3, "3    |"},
      {"%0-5d|", 3, "3    |"},
      {"%3d%3d", 1, "  1 22", 22},  // each element takes its own slot
      {"%010d", INT_MIN, "-2147483648"},
      {"%d", -1, "-1"},
      {"%5.4d", -3, "-0003"},
      {"%3$d", 1, "  $d"},  // "$" ends the element and prints itself
      {"%5%", 0, "    %"},
      {"%.3%", 0, "  %"},  // any text is padded up to its precision
  };
  for (const IntCase& Case : Cases) {
    EXPECT_EQ(Print(Case.Format, Case.Value, Case.Next), Case.Expected) << Case.Format;
  }
}

TEST_F(FormatEngineTest, LaterWidthRun_OverwritesEarlierOne) {
  EXPECT_EQ(Print("%5-7d|", 1), "1      |");
  EXPECT_EQ(Print("%5.2-7d|", 1), "0000001|");  // after "." every run is the precision
  EXPECT_EQ(Print("%3*d|", 6, 1), "     1|");
  EXPECT_EQ(Print("%*3d|", 6, 1), "  1|");
}

TEST_F(FormatEngineTest, StarArguments_TakeTheSlotBeforeTheValue) {
  EXPECT_EQ(Print("%*d|", 5, 42), "   42|");
  EXPECT_EQ(Print("%-*d|", 5, 42), "42   |");
  EXPECT_EQ(Print("%.*a|", 2, "abc"), "ab|");
  EXPECT_EQ(Print("%*.*d|", 6, 3, 7), "   007|");
  EXPECT_EQ(Print("%*a|", 0, "abc"), "abc|");
}

TEST_F(FormatEngineTest, Grouping_SeparatesThousandsAndDiscardsPrecisionAndZeroFill) {
  const IntCase Cases[] = {
      {"%,d", 1234567, "1,234,567"}, {"%,d", -1234, "-1,234"},   {"%,d", 123, "123"},
      {"%,d", 1000, "1,000"},        {"%,d", 100000, "100,000"}, {"%,d", 0, "0"},
      {"%,.5d", 42, "42"},           {"%,.0d", 0, "0"},          {"%,010d", 1234, "     1,234"},
      {"%,8d", -1234, "  -1,234"},   {"%-,8d|", 1234, "1,234   |"}, {"%+,d", 1234567, "+1,234,567"},
      {"%,d", INT_MIN, "-2,147,483,648"},
  };
  for (const IntCase& Case : Cases) {
    EXPECT_EQ(Print(Case.Format, Case.Value), Case.Expected) << Case.Format;
  }
  EXPECT_EQ(Print("%,ld", 1234567890123LL), "1,234,567,890,123");
  EXPECT_EQ(Print("%,x", 0x12345678), "12345678");  // hexadecimal never groups
}

TEST_F(FormatEngineTest, NegativeWidthsAndPrecisions_FromStarsOrDigits_AreNotGiven) {
  const char16_t Wide[] = u"wxyz";
  const struct {
    const CHAR8* Format;
    std::vector<UINT32> Slots;
    const CHAR8* Expected;
  } Cases[] = {
      {"%*d", {static_cast<UINT32>(-5), 42}, "42"},
      {"%-*d|", {static_cast<UINT32>(-5), 42}, "42|"},
      {"%*d", {0xFFFFFFFF, 42}, "42"},
      {"%*d|", {0x80000000, 42}, "42|"},
      {"%0*d", {static_cast<UINT32>(-5), static_cast<UINT32>(-42)}, "-42"},
      {"%*c|", {static_cast<UINT32>(-3), 'x'}, "x|"},
      {"%-*a|", {0x80000000, Slot("ab")}, "ab|"},
      {"%.*d", {0xFFFFFFFF, 42}, "42"},
      {"%.*d", {static_cast<UINT32>(-5), 42}, "42"},
      {"%.*d|", {0x80000000, 0}, "0|"},  // the default precision 1, not 0
      {"%.*a", {0xFFFFFFFF, Slot("abcdef")}, "abcdef"},
      {"%.*a|", {0x80000000, Slot("abcdef")}, "abcdef|"},
      {"%.*s|", {0xFFFFFFFF, Slot(Wide)}, "wxyz|"},
      {"%5.*d", {0xFFFFFFFF, 42}, "   42"},
      {"%05.*d", {0xFFFFFFFF, 42}, "00042"},  // with no precision, zero fill applies
      {"%*.*d|", {static_cast<UINT32>(-5), 0xFFFFFFFF, 7}, "7|"},
      {"%.*3d", {0xFFFFFFFF, 7}, "007"},  // a later precision replaces the dropped one
      {"%.3*d", {0x80000000, 7}, "7"},
      {"%.*", {0xFFFFFFFF}, ""},
      {"%5.*", {0xFFFFFFFF}, "     "},
      // Digit runs read the same way: 2^31 and more is no width or precision.
      {"%4294967294d", {42}, "42"},
      {"%2147483648d|", {42}, "42|"},
      {"%-4294967296d|", {7}, "7|"},
      {"%4294967301d", {7}, "7"},  // saturated on the way, not wrapped to 5
      {"%99999999999a|", {Slot("ab")}, "ab|"},
      {"%.4294967295d", {42}, "42"},
      {"%05.2147483648d", {42}, "00042"},
      {"%.99999999999a|", {Slot("abcdef")}, "abcdef|"},
      {"%.2147483648.2d", {7}, "07"},  // a later precision replaces the dropped one
      {"%2147483648 3d", {7}, "  7"},  // and a later width the dropped one
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(PrintSlots(0, Case.Format, Case.Slots), Case.Expected) << Case.Format;
    EXPECT_EQ(FormatEngine(nullptr, 0, PrintFlags::MeasureOnly, Case.Format, nullptr, Case.Slots.data()),
              std::strlen(Case.Expected))
        << Case.Format;
    EXPECT_EQ(PrintSlots(PrintFlags::WideOutput, Case.Format, Case.Slots).size(), 2 * std::strlen(Case.Expected))
        << Case.Format;
  }
  // A negative width leaves the rest of a small buffer unwritten.
  GuardedBuffer Out(16);
  const std::vector<UINT32> Slots = {0x80000000, 7};
  EXPECT_EQ(FormatEngine(Out.Data(), 16, 0, "%*d", nullptr, Slots.data()), 1u);
  EXPECT_TRUE(Out.UnwrittenFrom(2));
  EXPECT_TRUE(Out.GuardsIntact());
}

TEST_F(FormatEngineTest, LineEnds_BecomeCarriageReturnLineFeed) {
  const struct {
    const CHAR8* Format;
    const CHAR8* Expected;
  } Cases[] = {
      {"a\nb", "a\r\nb"},       {"a\n\rb", "a\r\nb"},   {"a\rb", "a\rb"},         {"a\r\nb", "a\r\nb"},
      {"\n\n", "\r\n\r\n"},     {"\r\r", "\r\r"},       {"\n\r\n", "\r\n\r\n"},   {"\r\n\r", "\r\n\r"},
      {"\n", "\r\n"},           {"\r", "\r"},           {"%5\n|", "   \r\n|"},   {"%\r\n|", "\r\n|"},
      {"%\n\r|", "\r\n|"},      {"%\r|", "\r|"},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(Print(Case.Format), Case.Expected) << Case.Format;
  }
}

TEST_F(FormatEngineTest, FormatEndingInsideAnElement_StopsThere) {
  EXPECT_EQ(Print("ab%"), "ab");
  EXPECT_EQ(Print("ab%5"), "ab     ");
  EXPECT_EQ(Print("ab%-5"), "ab     ");
  EXPECT_EQ(Print("ab%."), "ab");
  EXPECT_EQ(Print("ab%l"), "ab");
  EXPECT_EQ(Print("ab%,+ "), "ab");
  EXPECT_EQ(Print("ab%*", 4), "ab    ");
  EXPECT_EQ(Print("%%"), "%");
  EXPECT_EQ(Print("%q"), "q");
}

TEST_F(FormatEngineTest, OverrideList_IsReadInsteadOfTheFirst) {
  const UINT32 Ignored[] = {99, 99, 99};
  const std::vector<UINT32> Slots = {7, 0x9ABCDEF0, 0x12345678, 'Z', 5, 0xFFFFFFFF, 0x1234};
  CHAR8 Out[64];
  const UINTN Length = FormatEngine(Out, sizeof(Out), 0, "%d|%lx|%c|%*d|%p", Ignored, Slots.data());
  EXPECT_STREQ(Out, "7|123456789ABCDEF0|Z|   -1|1234");
  EXPECT_EQ(Length, std::strlen(Out));
}

TEST_F(FormatEngineTest, SlotUse_MatchesEachConversion) {
  // Every conversion takes exactly its slots: a marker after it must print.
  const char Text[] = "txt";
  const EFI_GUID Guid = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  const EFI_TIME Time = {2024, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0};
  const struct {
    const CHAR8* Format;
    std::vector<UINT32> Slots;
    const CHAR8* Expected;
  } Cases[] = {
      {"%d%d", {1, 2}, "12"},
      {"%ld%d", {1, 0, 2}, "12"},
      {"%Lx%d", {0, 1, 2}, "1000000002"},
      {"%lu%d", {0xFFFFFFFF, 0, 2}, "42949672952"},
      {"%lp%d", {0x10, 2}, "102"},
      {"%lc%d", {'A', 2}, "A2"},
      {"%lr%d", {0, 2}, "Success2"},
      {"%la%d", {Slot(Text), 2}, "txt2"},
      {"%*.*d%d", {3, 2, 1, 2}, " 012"},
      {"%g%d", {Slot(&Guid), 2}, "00000001-0002-0003-0405-060708090A0B2"},
      {"%t%d", {Slot(&Time), 2}, "01/02/2024  03:042"},
      {"%%%d", {2}, "%2"},
      {"%q%d", {2}, "q2"},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(PrintSlots(0, Case.Format, Case.Slots), Case.Expected) << Case.Format;
  }
}

TEST_F(FormatEngineTest, FrontEnds_PassTheirArgumentsAsSlots) {
  CHAR8 Out[64];
  const UINTN Length = AsciiFormat(Out, sizeof(Out), "ASSERT %a(%d): %a\n", "Library/X.cpp", 366, "A != B");
  EXPECT_STREQ(Out, "ASSERT Library/X.cpp(366): A != B\r\n");
  EXPECT_EQ(Length, std::strlen(Out));
  CHAR16 Wide[16];
  EXPECT_EQ(FormatToBuffer(Wide, 16, PrintFlags::WideOutput, "%ld-%x", -5LL, 0xAB), 5u);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(Wide)), u"-5-AB");
}

TEST_F(FormatEngineTest, CallerBitsOnly_OtherOptionBitsHaveNoEffect) {
  // Working-state bits passed in by a caller, and a bit nothing uses, are
  // cut away at every element.
  const std::vector<UINT32> Slots = {42, 43};
  const UINTN Noise = PrintFlags::AlignLeft | PrintFlags::ShowPlus | PrintFlags::ZeroFill | PrintFlags::Base16 |
                      PrintFlags::Value64 | PrintFlags::GroupThousands | 0x4000;
  EXPECT_EQ(PrintSlots(Noise, "%5d|%d", Slots), PrintSlots(0, "%5d|%d", Slots));
}

TEST_F(FormatEngineTest, WideFormat_ReadsSixteenBitCharacters) {
  const std::vector<UINT32> Slots = {5};
  EXPECT_EQ(PrintSlots(PrintFlags::WideFormat, u"a%db\n", Slots), "a5b\r\n");
  // Only the whole 16-bit value is a conversion character: 0x0164 is not "d".
  const char16_t NotD[] = {'%', 0x0164, '|', 0};
  EXPECT_EQ(PrintSlots(PrintFlags::WideFormat, NotD, Slots), "d|");
  const char16_t Smile[] = {0x263A, 0};
  EXPECT_EQ(PrintSlots(PrintFlags::WideFormat, Smile, {}), ":");  // low byte into byte output
  EXPECT_EQ(PrintSlots(PrintFlags::WideFormat | PrintFlags::WideOutput, Smile, {}), std::string("\x3A\x26", 2));
}

TEST_F(FormatEngineTest, WideOutput_WritesLittleEndianCharacters) {
  const char16_t Wide[] = {u'h', 0x263A, 0};
  const std::vector<UINT32> Slots = {Slot(Wide), Slot("ab")};
  EXPECT_EQ(PrintSlots(PrintFlags::WideOutput, "%s|%a\n", Slots), std::string("h\0\x3A\x26|\0a\0b\0\r\0\n\0", 14));
  // Wide strings into byte output keep the low byte.
  EXPECT_EQ(PrintSlots(0, "%s|%S", {Slot(Wide), Slot(Wide)}), "h:|h:");
}

TEST_F(FormatEngineTest, MeasureOnly_CountsTheFullOutputAndWritesNothing) {
  const std::vector<UINT32> Slots = {12345, Slot("abcdef")};
  const CHAR8* Format = "x%2d|%-8a|\n";
  const UINTN Full = std::strlen("x12345|abcdef  |\r\n");
  EXPECT_EQ(FormatEngine(nullptr, 0, PrintFlags::MeasureOnly, Format, nullptr, Slots.data()), Full);
  for (const UINTN Size : {0u, 2u, 5u, 100u}) {
    GuardedBuffer Out(Size + 1);
    EXPECT_EQ(FormatEngine(Out.Data(), Size, PrintFlags::MeasureOnly, Format, nullptr, Slots.data()), Full) << Size;
    EXPECT_TRUE(Out.UnwrittenFrom(0));
    EXPECT_TRUE(Out.GuardsIntact());
  }
  // Characters, not bytes, with wide output.
  EXPECT_EQ(FormatEngine(nullptr, 0, PrintFlags::MeasureOnly | PrintFlags::WideOutput, Format, nullptr, Slots.data()),
            Full);
}

TEST_F(FormatEngineTest, MeasureOnly_HugeWidthsAreArithmeticAndSaturate) {
  const UINTN Measure = PrintFlags::MeasureOnly;
  const struct {
    const CHAR8* Format;
    std::vector<UINT32> Slots;
    UINTN Expected;
  } Cases[] = {
      {"%*dabc", {0x7FFFFFFF, 1}, 0x80000002u},
      {"%*d%*d", {0x7FFFFFFF, 1, 0x7FFFFFFF, 1}, 0xFFFFFFFEu},
      {"%*d%*d%d", {0x7FFFFFFF, 1, 0x7FFFFFFF, 1, 1}, 0xFFFFFFFFu},
      {"%*d%*dxy", {0x7FFFFFFF, 1, 0x7FFFFFFF, 1}, 0xFFFFFFFFu},  // saturates instead of wrapping
      {"%*d%*d%*d", {0x7FFFFFFF, 1, 0x7FFFFFFF, 1, 0x7FFFFFFF, 1}, 0xFFFFFFFFu},
      {"%.*d", {0x7FFFFFF0, 1}, 0x7FFFFFF0u},
      {"%+.*d", {0x7FFFFFFF, 1}, 0x80000000u},
      {"%.*a", {0x7FFFFFFF, Slot("ab")}, 0x7FFFFFFFu},
      {"%2147483647d", {1}, 0x7FFFFFFFu},  // the widest field
      {"%+.2147483647d", {1}, 0x80000000u},  // the longest precision, and its sign
      {"%99999999999d", {1}, 1u},  // a run beyond 31 bits is no width
      {"%*d", {0, 12345}, 5u},
      {"%2d", {12345}, 5u},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(FormatEngine(nullptr, 0, Measure, Case.Format, nullptr, Case.Slots.data()), Case.Expected)
        << Case.Format;
  }
}

TEST_F(FormatEngineTest, HugeWidthIntoSmallBuffer_FillsToTheBound) {
  const std::vector<UINT32> Slots = {0x7FFFFFFF, 7};
  GuardedBuffer Out(16);
  EXPECT_EQ(FormatEngine(Out.Data(), 16, 0, "%*d", nullptr, Slots.data()), 15u);
  EXPECT_EQ(std::string(Out.Chars()), std::string(15, ' '));
  EXPECT_TRUE(Out.GuardsIntact());
}
}  // namespace
