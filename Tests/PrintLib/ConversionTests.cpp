// Conversions: numbers, characters, strings, GUIDs, times and status names.
#include <climits>
#include <cstdint>

#include "PrintTestSupport.h"

using namespace PrintTest;

namespace {
class ConversionTest : public PrintTestBase {};

TEST_F(ConversionTest, ThirtyTwoBitNumbers_SignednessAndRadix) {
  const struct {
    const CHAR8* Format;
    UINT32 Value;
    const CHAR8* Expected;
  } Cases[] = {
      {"%d", 0xFFFFFFFF, "-1"},       {"%u", 0xFFFFFFFF, "4294967295"}, {"%x", 0xFFFFFFFF, "FFFFFFFF"},
      {"%X", 0xFFFFFFFF, "FFFFFFFF"}, {"%x", 255, "FF"},                {"%x", 0xabcdef, "ABCDEF"},
      {"%08x", 255, "000000FF"},      {"%8X", 255, "000000FF"},         {"%8x", 255, "      FF"},
      {"%-8X|", 255, "FF      |"},    {"%+x", 255, "+FF"},              {"% X", 255, " FF"},
      {"%+u", 5, "5"},                {"% u", 5, " 5"},                 {"%p", 0x1234, "1234"},
      {"%8p", 0x1234, "00001234"},    {"%+ p", 0x1234, "1234"},         {"%-8p|", 0x1234, "1234    |"},
      {"%.6X", 0xAB, "0000AB"},       {"%d", 0x80000000, "-2147483648"}, {"%u", 0x80000000, "2147483648"},
      {"%x", 0, "0"},                 {"%.0x", 0, ""},                  {"%,u", 4000000000u, "4,000,000,000"},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(Print(Case.Format, Case.Value), Case.Expected) << Case.Format;
  }
}

TEST_F(ConversionTest, SixtyFourBitNumbers_TakeTwoSlotsLowWordFirst) {
  const struct {
    const CHAR8* Format;
    UINT64 Value;
    const CHAR8* Expected;
  } Cases[] = {
      {"%ld", UINT64_MAX, "-1"},
      {"%lu", UINT64_MAX, "18446744073709551615"},
      {"%lx", UINT64_MAX, "FFFFFFFFFFFFFFFF"},
      {"%Ld", 0x8000000000000000ull, "-9223372036854775808"},
      {"%lx", 0x123456789ABCDEF0ull, "123456789ABCDEF0"},
      {"%lX", 0x0000000100000000ull, "100000000"},
      {"%ld", 10000000000ull, "10000000000"},
      {"%020lu", 1, "00000000000000000001"},
      {"%,lu", UINT64_MAX, "18,446,744,073,709,551,615"},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(Print(Case.Format, Case.Value), Case.Expected) << Case.Format;
  }
  // With "l" the high word is the next slot, never a sign extension.
  EXPECT_EQ(PrintSlots(0, "%ld|%d", {0xFFFFFFFF, 0, 0xFFFFFFFF}), "4294967295|-1");
}

TEST_F(ConversionTest, Characters_TakeTheLowSixteenBits) {
  EXPECT_EQ(Print("%c", 0x41), "A");
  EXPECT_EQ(Print("%c|", 0), " |");  // an empty text padded to precision 1
  EXPECT_EQ(Print("%3c|", 'x'), "  x|");
  EXPECT_EQ(Print("%-3c|", 'x'), "x  |");
  EXPECT_EQ(Print("%c", 0x12341241), "A");
  EXPECT_EQ(PrintSlots(PrintFlags::WideOutput, "%c", {0x12345678}), std::string("\x78\x56", 2));
}

TEST_F(ConversionTest, Strings_PrecisionLimitsAndNullPrintsPlaceholder) {
  const char16_t Wide[] = u"wide";
  EXPECT_EQ(Print("%a", static_cast<const CHAR8*>(nullptr)), "<null string>");
  EXPECT_EQ(Print("%s", static_cast<const CHAR16*>(nullptr)), "<null string>");
  EXPECT_EQ(Print("%.4S", static_cast<const CHAR16*>(nullptr)), "<nul");
  EXPECT_EQ(Print("%.4a", "abcdef"), "abcd");
  EXPECT_EQ(Print("%5a", "ab"), "   ab");
  EXPECT_EQ(Print("%-5a|", "ab"), "ab   |");
  EXPECT_EQ(Print("%a|", ""), "|");
  EXPECT_EQ(Print("%.0a|", "abc"), "|");
  EXPECT_EQ(Print("%.a|", "abc"), "a|");       // "." alone leaves precision 1
  EXPECT_EQ(Print("%.6a|", "abc"), "   abc|");  // and any text is padded up to it
  EXPECT_EQ(Print("%s|%.2S", Wide, Wide), "wide|wi");
  EXPECT_EQ(PrintSlots(PrintFlags::WideOutput, "%a", {Slot("\xE9")}), std::string("\xE9\0", 2));
}

TEST_F(ConversionTest, Guid_PrintsThirtySixUpperCaseCharactersFromAnyAlignment) {
  const EFI_GUID Guid = {0x12345678, 0x9abc, 0xdef0, {0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10}};
  const char* Expected = "12345678-9ABC-DEF0-FEDC-BA9876543210";
  EXPECT_EQ(Print("%g", &Guid), Expected);
  unsigned char Unaligned[17];
  std::memcpy(Unaligned + 1, &Guid, sizeof(Guid));
  EXPECT_EQ(Print("%g", Unaligned + 1), Expected);
  EXPECT_EQ(Print("%g", static_cast<const EFI_GUID*>(nullptr)), "<null guid>");
  EXPECT_EQ(Print("%.8g|", &Guid), "12345678|");
  EXPECT_EQ(Print("%40g", &Guid), std::string("    ") + Expected);
}

TEST_F(ConversionTest, Time_PrintsMonthDayYearHourMinute) {
  const EFI_TIME Time = {2017, 3, 9, 8, 5, 59, 0, 0, 0, 0, 0};
  EXPECT_EQ(Print("%t", &Time), "03/09/2017  08:05");
  const EFI_TIME Late = {65535, 12, 31, 23, 59, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Print("%t", &Late), "12/31/65535  23:59");
  EXPECT_EQ(Print("%t", static_cast<const EFI_TIME*>(nullptr)), "<null time>");
}

// The names exactly as the serial log shows them, row by row.
const char* const ExpectedStatusNames[] = {
    "Success", "Warning Unknown Glyph", "Warning Delete Failure", "Warning Write Failure",
    "Warning Buffer Too Small", "Warning Stale Data", "Load Error", "Invalid Parameter", "Unsupported",
    "Bad Buffer Size", "Buffer Too Small", "Not Ready", "Device Error", "Write Protected", "Out of Resources",
    "Volume Corrupt", "Volume Full", "No Media", "Media changed", "Not Found", "Access Denied", "No Response",
    "No mapping", "Time out", "Not started", "Already started", "Aborted", "ICMP Error", "TFTP Error",
    "Protocol Error", "Incompatible Version", "Security Violation", "CRC Error", "End of Media", "Reserved (29)",
    "Reserved (30)", "End of File", "Invalid Language", "Compromised Data",
};
static_assert(std::size(ExpectedStatusNames) == 39);

TEST_F(ConversionTest, Status_EveryRowPrintsItsName) {
  for (UINT32 Row = 0; Row < 39; ++Row) {
    const EFI_STATUS Status = Row < 6 ? Row : 0x80000000u + (Row - 5);
    EXPECT_EQ(Print("%r", Status), ExpectedStatusNames[Row]) << Row;
    EXPECT_STREQ(StatusTextTable[Row], ExpectedStatusNames[Row]) << Row;
  }
  EXPECT_EQ(Print("%r", EFI_DEVICE_ERROR), "Device Error");
  EXPECT_EQ(Print("%r", EFI_COMPROMISED_DATA), "Compromised Data");
}

TEST_F(ConversionTest, Status_OutsideTheTablePrintsEightHexDigits) {
  const struct {
    EFI_STATUS Status;
    const CHAR8* Expected;
  } Cases[] = {
      {6, "00000006"},          {0x80000000, "80000000"}, {0x80000022, "80000022"},
      {0x7FFFFFFF, "7FFFFFFF"}, {0xFFFFFFFF, "FFFFFFFF"}, {0x800000FF, "800000FF"},
      {0x100, "00000100"},      {0xC0000001, "C0000001"},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(Print("%r", Case.Status), Case.Expected) << Case.Status;
  }
}

TEST_F(ConversionTest, Status_PrecisionAndWidthApplyToTheName) {
  EXPECT_EQ(Print("%.3r|", EFI_SUCCESS), "Suc|");
  EXPECT_EQ(Print("%10r|", EFI_DEVICE_ERROR), "Device Error|");
  EXPECT_EQ(Print("%-10r|", EFI_SUCCESS), "Success   |");
  EXPECT_EQ(Print("%.4r|", 0x80000022u), "8000|");
  EXPECT_EQ(Print("\nASSERT_EFI_ERROR (Status = %r)\n", EFI_OUT_OF_RESOURCES),
            "\r\nASSERT_EFI_ERROR (Status = Out of Resources)\r\n");
}

TEST_F(ConversionTest, ValueToDigits_WritesLeastSignificantFirstAfterAZero) {
  const struct {
    UINT64 Value;
    UINTN Radix;
    const char* Reversed;
  } Cases[] = {
      {0, 10, "0"},
      {0, 16, "0"},
      {1234, 10, "4321"},
      {0xABC, 16, "CBA"},
      {UINT64_MAX, 10, "51615590737044764481"},
      {UINT64_MAX, 16, "FFFFFFFFFFFFFFFF"},
      {0x100000000ull, 10, "6927694924"},
  };
  for (const auto& Case : Cases) {
    CHAR8 Scratch[40];
    std::memset(Scratch, 'z', sizeof(Scratch));
    const CHAR8* Last = ValueToDigits(Scratch, Case.Value, Case.Radix);
    EXPECT_EQ(Scratch[0], 0);
    EXPECT_EQ(std::string(Scratch + 1, static_cast<size_t>(Last - Scratch)), Case.Reversed) << Case.Value;
    EXPECT_EQ(Scratch[Last - Scratch + 1], 'z');
  }
}

TEST_F(ConversionTest, FillChars_WritesWholeCharactersBelowTheEnd) {
  const struct {
    INTN Count;
    UINTN Room;
    UINTN Size;
    UINTN Written;
  } Cases[] = {
      {3, 10, 1, 3}, {3, 2, 1, 2}, {0, 10, 1, 0}, {-1, 10, 1, 0}, {INT32_MIN, 10, 1, 0},
      {3, 10, 2, 6}, {3, 4, 2, 4}, {3, 5, 2, 4},  // an odd last byte does not take half a character
  };
  for (const auto& Case : Cases) {
    GuardedBuffer Out(16);
    UINT8* const Start = Out.Data();
    UINT8* const End = FillChars(Start, Start + Case.Room, Case.Count, 0x1234, Case.Size);
    EXPECT_EQ(static_cast<UINTN>(End - Start), Case.Written) << Case.Count << " " << Case.Room;
    EXPECT_TRUE(Out.UnwrittenFrom(Case.Written));
    if (Case.Written >= 2) {
      EXPECT_EQ(Start[0], 0x34);
      EXPECT_EQ(Start[1], Case.Size == 2 ? 0x12 : 0x34);
    }
  }
}
}  // namespace
