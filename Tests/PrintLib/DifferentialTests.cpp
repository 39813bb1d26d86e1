// The engine against the one it replaced (Reference/), on random formats,
// argument lists, buffer sizes and caller modes: every result, every byte of
// the buffer and its guard band, and every report (path, line, text, order)
// must be the same. PRINT_DIFF_CASES sets the number of random cases.
#include <cstdlib>
#include <random>

#include "PrintTestSupport.h"
#include "Reference/PrintLibBefore.h"

using namespace PrintTest;

namespace {
constexpr size_t GuardBytes = 24;

// What one engine did with one call.
struct Outcome {
  UINTN Result;
  std::vector<UINT8> Bytes;  // the buffer and a guard band, 0xCC at first
  std::vector<Recorded::Assertion> Reports;
  bool operator==(const Outcome&) const = default;
};

using Engine = UINTN (*)(VOID*, UINTN, UINTN, const VOID*, const UINT32*, const UINT32*);

Outcome Call(Engine Formatter, bool NullBuffer, UINTN Size, UINTN Flags, const void* Format, const UINT32* Slots) {
  const size_t CharacterSize = (Flags & PrintFlags::WideOutput) != 0 ? 2 : 1;
  Outcome Result{0, std::vector<UINT8>(Size * CharacterSize + GuardBytes, UnwrittenByte), {}};
  Recorded::Clear();
  Result.Result = Formatter(NullBuffer ? nullptr : Result.Bytes.data(), Size, Flags, Format, nullptr, Slots);
  Result.Reports = Recorded::Assertions();
  Recorded::Clear();
  return Result;
}

std::string Describe(const std::vector<UINT16>& Format, const std::vector<UINT32>& Slots, UINTN Flags, UINTN Size) {
  std::string Text = "flags " + std::to_string(Flags) + " size " + std::to_string(Size) + " format \"";
  for (const UINT16 Character : Format) {
    if (Character >= 0x20 && Character < 0x7F) {
      Text += static_cast<char>(Character);
    } else if (Character != 0) {
      Text += "\\u" + std::to_string(Character) + ";";
    }
  }
  Text += "\" slots";
  for (const UINT32 Value : Slots) {
    Text += " " + std::to_string(Value);
  }
  return Text;
}

// Random formats built from the elements the engine knows, with the slots
// each element takes: values, `*` widths and precisions (now and then one that
// reads as negative) and pointers into an arena of random text that ends in
// zeros, so every string, GUID and time stays inside it.
class CaseMaker {
public:
  explicit CaseMaker(UINT32 Seed) : Random(Seed) {}

  UINT32 Below(UINT32 Limit) { return static_cast<UINT32>(Random() % Limit); }
  bool OneIn(UINT32 Odds) { return Below(Odds) == 0; }

  void MakeArena() {
    const size_t Used = OneIn(4) ? 256 + Below(300) : Below(64);
    Arena.assign(Used + 64, 0);
    for (size_t Index = 0; Index < Used; ++Index) {
      const UINT32 Kind = Below(16);
      Arena[Index] = Kind == 0 ? 0 : Kind == 1 ? static_cast<UINT8>(Random()) : static_cast<UINT8>('a' + Below(26));
    }
    ArenaUsed = Used;
  }

  UINT16 LiteralCharacter(bool Wide) {
    static constexpr char Pool[] = "abcXYZ019 :-|()=\n\r\n\r,.";
    const UINT32 Kind = Below(20);
    if (Wide && Kind == 0) {
      static constexpr UINT16 WidePool[] = {0x263A, 0x0164, 0x0100, 0x0D0A, 0x0A25, 0x2564, 0xFFFF};
      return WidePool[Below(std::size(WidePool))];
    }
    if (Kind == 1) {
      const UINT16 Any = static_cast<UINT16>(1 + Below(255));
      return Any == '%' ? '#' : Any;  // a "%" would take slots the case does not have
    }
    return static_cast<UINT8>(Pool[Below(sizeof(Pool) - 1)]);
  }

  UINT32 Value() {
    static constexpr UINT32 Edges[] = {0,          1,          7,          9,          10,         42,
                                       99,         100,        999,        1000,       1234567,    0x7FFFFFFF,
                                       0x80000000, 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFF85, 0xDEADBEEF, 0x80000007,
                                       0x80000021, 0x80000022, 5,          6,          0xFFFF,     0x10000};
    switch (Below(4)) {
      case 0:
        return Edges[Below(std::size(Edges))];
      case 1:
        return Below(1000);
      default:
        return static_cast<UINT32>(Random());
    }
  }

  UINT32 StarValue() {
    switch (Below(10)) {
      case 0:
        return 0x7FFFFFFF - Below(3);
      case 1:
        return 200 + Below(200);
      case 2:
        return OneIn(2) ? 0x80000000 + Below(3) : 0xFFFFFFFF - Below(40);
      default:
        return Below(40);
    }
  }

  UINT32 Pointer() {
    if (OneIn(8)) {
      return 0;
    }
    const size_t Offset = ArenaUsed == 0 ? 0 : Below(static_cast<UINT32>(ArenaUsed));
    return Slot(Arena.data() + Offset);
  }

  // One "%" element; the conversion character decides the slots.
  void AddElement(std::vector<UINT16>& Format, std::vector<UINT32>& Slots, bool Wide, bool Last) {
    Format.push_back('%');
    bool Long = false;
    std::vector<UINT32> Taken;
    for (UINT32 Tokens = Below(5); Tokens != 0; --Tokens) {
      static constexpr char Flags[] = " +-,.lL*00123456789";
      const char Token = Flags[Below(sizeof(Flags) - 1)];
      if (Token == '*') {
        Taken.push_back(StarValue());
      } else if (Token == 'l' || Token == 'L') {
        Long = true;
      }
      Format.push_back(static_cast<UINT8>(Token));
      if (Token >= '1' && Token <= '9' && OneIn(6)) {
        // Runs around 2^31 and 2^32, and one that wraps 32 bits.
        static constexpr const char* Runs[] = {"00", "00", "99999999999", "147483647", "147483648", "294967295", "294967301"};
        const char* Run = Runs[Below(std::size(Runs))];
        for (; *Run != 0; ++Run) {
          Format.push_back(static_cast<UINT8>(*Run));
        }
      }
    }
    if (Last && OneIn(6)) {
      Slots.insert(Slots.end(), Taken.begin(), Taken.end());
      return;  // the format ends inside the element
    }
    static constexpr char Conversions[] = "dddduuxxxXXppssSaaaaccgtrrr%%q\n\r$";
    UINT16 Conversion = static_cast<UINT8>(Conversions[Below(sizeof(Conversions) - 1)]);
    if (Wide && OneIn(30)) {
      Conversion = 0x0164;  // not "d": only the whole 16-bit value converts
    }
    Format.push_back(Conversion);
    Slots.insert(Slots.end(), Taken.begin(), Taken.end());
    switch (Conversion) {
      case 'd':
      case 'u':
      case 'x':
      case 'X':
        Slots.push_back(Value());
        if (Long) {
          Slots.push_back(OneIn(3) ? 0xFFFFFFFF : Value());
        }
        break;
      case 'p':
      case 'c':
      case 'r':
        Slots.push_back(Value());
        break;
      case 's':
      case 'S':
      case 'a':
      case 'g':
      case 't':
        Slots.push_back(Pointer());
        break;
      default:
        break;
    }
  }

  void Make(std::vector<UINT16>& Format, std::vector<UINT32>& Slots, bool Wide) {
    MakeArena();
    Format.clear();
    Slots.clear();
    const UINT32 Elements = Below(10);
    for (UINT32 Element = 0; Element < Elements; ++Element) {
      const bool Last = Element + 1 == Elements;
      if (OneIn(2)) {
        AddElement(Format, Slots, Wide, Last);
        continue;
      }
      const UINT32 Length = OneIn(10) ? 100 + Below(300) : 1 + Below(20);
      for (UINT32 Index = 0; Index < Length; ++Index) {
        Format.push_back(LiteralCharacter(Wide));
      }
    }
    Format.push_back(0);
  }

private:
  std::mt19937 Random;
  std::vector<UINT8> Arena;
  size_t ArenaUsed = 0;
};

std::vector<UINT8> FormatBytes(const std::vector<UINT16>& Format, bool Wide) {
  std::vector<UINT8> Bytes;
  for (const UINT16 Character : Format) {
    Bytes.push_back(static_cast<UINT8>(Character));
    if (Wide) {
      Bytes.push_back(static_cast<UINT8>(Character >> 8));
    }
  }
  return Bytes;
}

size_t CaseCount() {
  const char* Text = std::getenv("PRINT_DIFF_CASES");
  if (Text != nullptr) {
    return std::strtoul(Text, nullptr, 10);
  }
  // With string limits, long formats and outputs report once per character.
  return Settings::PcdMaximumAsciiStringLength != 0 ? 1000 : 4000;
}

class PrintDifferential : public PrintTestBase {
protected:
  // Compares one call; returns false (and says why) on the first difference.
  bool Same(bool NullBuffer, UINTN Size, UINTN Flags, const void* Format, const std::vector<UINT32>& Slots,
            const std::vector<UINT16>& Shown) {
    ++Compared;
    const Outcome Before = Call(PrintLibBefore::FormatEngine, NullBuffer, Size, Flags, Format, Slots.data());
    const Outcome After = Call(FormatEngine, NullBuffer, Size, Flags, Format, Slots.data());
    if (Before == After) {
      return true;
    }
    ADD_FAILURE() << Describe(Shown, Slots, Flags, Size) << (NullBuffer ? " (null buffer)" : "") << "\n  result "
                  << Before.Result << " before, " << After.Result << " after; reports " << Before.Reports.size()
                  << " before, " << After.Reports.size() << " after; bytes "
                  << (Before.Bytes == After.Bytes ? "same" : "differ");
    return false;
  }
  size_t Compared = 0;
};

TEST_F(PrintDifferential, RandomFormats_PrintCountAndReportAsBefore) {
  TakeReports();
  CaseMaker Maker(0x5EED);
  std::vector<UINT16> Format;
  std::vector<UINT32> Slots;
  const size_t Cases = CaseCount();
  for (size_t Case = 0; Case < Cases; ++Case) {
    const UINTN Caller = (Case & 1 ? PrintFlags::WideOutput : 0) | (Case & 2 ? PrintFlags::WideFormat : 0);
    const bool Wide = (Caller & PrintFlags::WideFormat) != 0;
    Maker.Make(Format, Slots, Wide);
    const std::vector<UINT8> Bytes = FormatBytes(Format, Wide);
    Slots.shrink_to_fit();
    const UINTN Full = PrintLibBefore::FormatEngine(nullptr, 0, Caller | PrintFlags::MeasureOnly, Bytes.data(),
                                                    nullptr, Slots.data());
    Recorded::Clear();
    // Every size up to past the full output for some cases, a spread for the rest.
    std::vector<UINTN> Sizes = {0, 1, 2, 3, 256, Maker.Below(64)};
    if (Full < 600) {
      Sizes.push_back(Full);
      Sizes.push_back(Full + 1);
      Sizes.push_back(Full + 2);
      if (Case % 8 == 0) {
        for (UINTN Size = 4; Size < Full + 2; ++Size) {
          Sizes.push_back(Size);
        }
      }
    }
    bool Ok = true;
    for (const UINTN Size : Sizes) {
      Ok = Ok && Same(false, Size, Caller, Bytes.data(), Slots, Format);
      Ok = Ok && Same(false, Size, Caller | PrintFlags::MeasureOnly, Bytes.data(), Slots, Format);
    }
    Ok = Ok && Same(true, 0, Caller | PrintFlags::MeasureOnly, Bytes.data(), Slots, Format);
    Ok = Ok && Same(true, 1 + Maker.Below(10), Caller, Bytes.data(), Slots, Format);
    if (!Ok) {
      return;
    }
  }
  // Null formats, with and without a buffer.
  for (const UINTN Caller : {0u, 0x40u, 0x100u, 0x140u}) {
    for (const UINTN Extra : {0u, 0x2000u}) {
      EXPECT_TRUE(Same(false, 8, Caller | Extra, nullptr, {}, {}));
      EXPECT_TRUE(Same(true, 0, Caller | Extra, nullptr, {}, {}));
    }
  }
  std::printf("compared %zu calls from %zu random cases\n", Compared, Cases);
}

TEST_F(PrintDifferential, BuildingBlocks_DigitsAndFillsAsBefore) {
  TakeReports();
  std::mt19937 Random(7);
  for (int Case = 0; Case < 20000; ++Case) {
    const UINT64 Value = (static_cast<UINT64>(Random()) << 32 | Random()) >> (Random() % 64);
    // Mostly the engine's radixes; now and then another one, and 0.
    constexpr UINTN OtherRadixes[] = {0, 2, 3, 8, 17};
    const UINTN Radix = Case % 97 == 0 ? OtherRadixes[(Case / 97) % 5] : (Case & 1 ? 16 : 10);
    // Room for radix 2: the leading 0 and 64 digits.
    CHAR8 Before[72];
    CHAR8 After[72];
    std::memset(Before, 'z', sizeof(Before));
    std::memset(After, 'z', sizeof(After));
    Recorded::Clear();
    const ptrdiff_t BeforeEnd = PrintLibBefore::ValueToDigits(Before, Value, Radix) - Before;
    const auto BeforeReports = Recorded::Assertions();
    Recorded::Clear();
    const ptrdiff_t AfterEnd = ValueToDigits(After, Value, Radix) - After;
    ASSERT_EQ(BeforeEnd, AfterEnd) << Value << " " << Radix;
    ASSERT_EQ(std::memcmp(Before, After, sizeof(Before)), 0) << Value << " " << Radix;
    ASSERT_EQ(BeforeReports, Recorded::Assertions());

    UINT8 FillBefore[48];
    UINT8 FillAfter[48];
    std::memset(FillBefore, 0xCC, sizeof(FillBefore));
    std::memset(FillAfter, 0xCC, sizeof(FillAfter));
    // Now and then a count near the most negative one, reached without a
    // signed overflow of its own.
    const INTN Near = static_cast<INTN>(Random() % 50);
    const INTN Count = Case % 101 == 0 ? INT32_MIN + Near : Near - 10;
    const UINTN Room = Random() % 41;
    const UINTN Size = 1 + (Random() & 1);
    const UINT16 Character = static_cast<UINT16>(Random());
    const ptrdiff_t FillBeforeEnd =
        PrintLibBefore::FillChars(FillBefore, FillBefore + Room, Count, Character, Size) - FillBefore;
    const ptrdiff_t FillAfterEnd = FillChars(FillAfter, FillAfter + Room, Count, Character, Size) - FillAfter;
    ASSERT_EQ(FillBeforeEnd, FillAfterEnd);
    ASSERT_EQ(std::memcmp(FillBefore, FillAfter, sizeof(FillBefore)), 0);
  }
}
}  // namespace
