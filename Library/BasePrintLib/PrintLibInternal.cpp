// The format engine: the main loop over format elements, parsing, the
// conversions, measuring, padding and bounded writing, and the front ends.
#include "PrintLibInternal.h"
#include "DigitText.h"
#include "RecordTexts.h"

#include "Library/BaseLib.h"

namespace {
using namespace PrintFlags;

constexpr UINTN MaxCount = 0xFFFFFFFF;

// The characters that start an element of more than one character; all others
// are copied as they are.
constexpr bool StartsElement(UINT32 Character) {
  constexpr UINT32 Controls = 1u << 0 | 1u << '\n' | 1u << '\r';
  return Character == '%' || (Character <= '\r' && ((Controls >> Character) & 1) != 0);
}

// A format or text character; 16-bit ones are read a byte at a time because
// they need not be aligned.
UINT32 ReadCharacter(const UINT8* At, UINTN Step) { return Step == 2 ? (At[0] | (At[1] << 8)) : At[0]; }

// What the characters from " " to "9" do inside a "%" element: set an
// option bit (its number plus one), take a "*" value, or start a number;
// 0 ends the element as its conversion character. "l" and "L" are apart.
constexpr UINT8 StarValue = 13;
constexpr UINT8 DigitRun = 14;
constexpr UINT8 ElementCharacters['9' - ' ' + 1] = {
    3, 0, 0, 0, 0, 0, 0, 0, 0, 0, StarValue, 2, 4, 1, 12, 0,  // " " to "/"
    DigitRun, DigitRun, DigitRun, DigitRun, DigitRun, DigitRun, DigitRun, DigitRun, DigitRun, DigitRun};
static_assert(ShowSpace == 1u << (ElementCharacters[' ' - ' '] - 1) &&
              ShowPlus == 1u << (ElementCharacters['+' - ' '] - 1) &&
              GroupThousands == 1u << (ElementCharacters[',' - ' '] - 1) &&
              AlignLeft == 1u << (ElementCharacters['-' - ' '] - 1) &&
              PrecisionGiven == 1u << (ElementCharacters['.' - ' '] - 1) &&
              ElementCharacters['*' - ' '] == StarValue && ElementCharacters['0' - ' '] == DigitRun);

// Conversion letters by kind: five numbers, three strings, two records, the
// status, the character; any other character prints itself.
constexpr CHAR8 ConversionLetters[] = "duxXpaSsgtrc";
enum ConversionKind : UINTN { FirstString = 5, FirstRecord = 8, Character = 11 };
// The option bits each number conversion changes: those it sets, and those
// of ClearableBits it clears. No conversion sets one of those, so one table
// holds both.
constexpr UINTN ClearableBits = ShowPlus | ShowSpace | Value64;
constexpr UINT16 NumberChanges[FirstString] = {
    0,                                   // "d"
    TreatUnsigned | ShowPlus,            // "u" drops "+"
    Base16,                              // "x"
    Base16 | ZeroFill,                   // "X"
    Base16 | ZeroFill | ClearableBits};  // "p" drops "+", " " and "l"
static_assert(((TreatUnsigned | Base16 | ZeroFill) & ClearableBits) == 0);

const UINT8* Bytes(const CHAR8* Text) { return reinterpret_cast<const UINT8*>(Text); }

// The bounded writer of one call. It counts every character and stores those
// that fit below End, which leaves one character for the terminator (End lies
// a whole number of characters after the start, so a character that starts
// below it fits). Measuring is writing with no room; storing stops at the
// bound.
class Output {
public:
  Output(UINT8* Start, UINT8* End, bool Wide, bool Storing)
      : Position(Start), End(End), Wide(Wide), Storing(Storing) {}

  // Counts Times copies of the (non-zero) character and stores as many as fit.
  void Fill(UINTN Times, const CHAR8* Character) { Walk(Bytes(Character), 0, Times, Store); }
  // What a walk does with the characters: count them only, or count and
  // store them, and whether it stops at the start of an element.
  enum Mode : UINTN { Measure, Store, StoreRun };
  // The walk pops its own stack arguments (fastcall, as the digit writer and
  // the number counts do), which makes its many call sites shorter.
  [[gnu::fastcall]] UINTN Walk(const UINT8* From, UINTN FromStep, UINTN Most, Mode How);
  UINTN Copy(const UINT8* From, UINTN FromStep, UINTN Most, bool Run);
  bool Full() const { return Storing && Position >= End; }

  UINT8* Position;
  UINTN Counted = 0;  // saturates at MaxCount

private:
  void AddToCount(UINTN Characters) {
    Counted = Counted + Characters < Characters ? MaxCount : Counted + Characters;
  }

  UINT8* End;
  bool Wide;
  bool Storing;
};

// Stores a text as Walk does; byte text into byte output, the common case,
// is a plain bounded copy.
UINTN Output::Copy(const UINT8* From, UINTN FromStep, UINTN Most, bool Run) {
  if (!Storing || FromStep != 1 || Wide) {
    return Walk(From, FromStep, Most, Run ? StoreRun : Store);
  }
  UINT8* const To = Position;
  const UINTN Left = static_cast<UINTN>(End - To);
  if (Most > Left) {
    Most = Left;
  }
  UINTN Index = 0;
  if (Run) {
    for (; Index < Most && !StartsElement(From[Index]); ++Index) {
      To[Index] = From[Index];
    }
  } else {
    for (; Index < Most && From[Index] != 0; ++Index) {
      To[Index] = From[Index];
    }
  }
  Position = To + Index;
  return Index;
}

// Walks a text up to its terminator (for a run of plain format characters,
// up to the first character that starts an element) or Most characters; a
// step of 0 walks one character over and over. Unless measuring, it counts
// and stores them, storing as many as fit. Returns the characters walked;
// nothing past Most is read (a text may end there without a terminator), and
// nothing past the bound when storing.
[[gnu::noinline, gnu::fastcall]] UINTN Output::Walk(const UINT8* From, UINTN FromStep, UINTN Most, Mode How) {
  const bool Run = How == StoreRun;
  const bool Write = How != Measure;
  // The position is kept in a local: a store through a byte pointer could
  // alias the member, and would make the compiler reload it every time.
  UINT8* Out = Position;
  UINTN Index = 0;
  // A fill (one character again and again) is counted at once when
  // measuring, so that a huge count costs nothing.
  if (FromStep == 0 && !Storing) {
    Index = Most;
  }
  for (; Index < Most; ++Index, From += FromStep) {
    const UINT32 Character = ReadCharacter(From, FromStep);
    if (Character == 0 || (Run && StartsElement(Character))) {
      break;
    }
    if (Write) {
      if (Out < End) {
        *Out++ = static_cast<UINT8>(Character);
        if (Wide) {
          *Out++ = static_cast<UINT8>(Character >> 8);
        }
      } else if (Storing) {
        break;
      }
    }
  }
  if (Write) {
    Position = Out;
    AddToCount(Index);
  }
  return Index;
}

// One call of the engine: the format cursor, the argument slots, the writer,
// and the element in hand with the text it writes after its padding.
class Engine {
public:
  Engine(const UINT8* Format, UINTN Step, const UINT32* Slots, UINT8* Start, UINT8* End, bool Wide, bool Storing)
      : At(Format), Step(Step), Arguments(Slots), Out(Start, End, Wide, Storing) {}

  // Runs the format; returns where the output stops.
  UINT8* Write(UINTN CallerFlags);
  UINTN Measured() const { return Out.Counted; }

private:
  UINT32 Peek(UINTN Ahead) const { return ReadCharacter(At + Ahead, Step); }
  void StartElement(UINTN CallerFlags);
  UINT32 ParseElement();
  void NumberText();
  [[gnu::fastcall]] void NumberCounts(const CHAR8* Digit, const CHAR8* Last);
  void ConvertElement(UINT32 Conversion);
  UINTN PadElement();

  const UINT8* At;
  UINTN Step;
  ArgSlots Arguments;
  Output Out;

  UINTN Flags;
  UINTN Width;
  UINTN Precision;
  const UINT8* Text;
  UINTN TextStep;   // 2 for CHAR16 text
  UINTN Count;      // characters, sign included
  UINTN Limit;      // characters of Text to write at most
  CHAR8 Sign;       // 0, ' ', '+' or '-'
  CHAR8 Filler;     // what fills up to the precision: "0" after a number's sign, else blanks
  CHAR8 Scratch[ScratchTextLength];
};

// The options word is cut back to the caller's bits at every element, and
// the element's width, precision, sign and text kind start afresh.
[[gnu::noinline]] void Engine::StartElement(UINTN CallerFlags) {
  Flags = CallerFlags;
  Width = 0;
  Precision = 1;
  TextStep = 1;
  Limit = MaxCount;
  Sign = 0;
  Filler = ' ';
}

// Parses flags, width and precision after "%" and returns the conversion
// character; the cursor is left on it (on the character before the end when
// the format ends inside the element, so that the main loop stops after it).
UINT32 Engine::ParseElement() {
  const UINT8* Cursor = At;
  // A width or precision reads as a signed 32-bit value, from digits or from
  // "*": a negative one is not given (a field wider than the address space is
  // no field). A dropped precision counts as none unless a later one replaces it.
  bool PrecisionDropped = false;
  bool InNumber = false;
  UINTN Value = 0;
  for (;;) {
    Cursor += Step;
    const UINT32 Character = ReadCharacter(Cursor, Step);
    const UINTN Class = Character - ' ' < sizeof(ElementCharacters) ? ElementCharacters[Character - ' '] : 0;
    if (Class == DigitRun) {
      // A run of digits is read one digit at a time; each digit sets the
      // width or precision again. A run too long for 32 bits saturates rather
      // than wrapping to a small width; only a run's leading "0" zero-fills.
      if (!InNumber) {
        Value = 0;
        if (Character == '0' && (Flags & PrecisionGiven) == 0) {
          Flags |= ZeroFill;
        }
      }
      if (__builtin_mul_overflow(Value, 10u, &Value) || __builtin_add_overflow(Value, Character - '0', &Value)) {
        Value = MaxCount;
      }
    } else if (Class == StarValue) {
      Value = Arguments.Take32();
    } else {
      InNumber = false;
      if (Class != 0) {
        Flags |= 1u << (Class - 1);
      } else if ((Character | 0x20) == 'l') {
        Flags |= Value64;
      } else {
        if (Character == 0) {
          Precision = 0;
          Cursor -= Step;
        } else if (PrecisionDropped) {
          Flags &= ~PrecisionGiven;
          Precision = 1;
        }
        At = Cursor;
        return Character;
      }
      continue;
    }
    InNumber = Class == DigitRun;
    const bool Negative = static_cast<INT32>(Value) < 0;
    // A number before any "." is the width, after it the precision.
    if ((Flags & PrecisionGiven) != 0) {
      Precision = Value;
      PrecisionDropped = Negative;
    } else {
      Width = Negative ? 0 : Value;
    }
  }
}

// Numbers: the digits are written backwards from the end of the scratch
// text, so that they read forwards.
[[gnu::always_inline]] inline void Engine::NumberText() {
  // A 32-bit value is sign-extended, except for "x", "X", "p" and "u":
  // those print the unsigned pattern it was passed as.
  const bool Signed = (Flags & (Base16 | TreatUnsigned)) == 0;
  UINT32 Low = Arguments.Take32();
  UINT32 High = 0;
  if ((Flags & Value64) != 0) {
    High = Arguments.Take32();
  } else if (Signed) {
    High = static_cast<UINT32>(static_cast<INT32>(Low) >> 31);
  }
  // "+" wins over " "; "-" over both.
  static constexpr CHAR8 Signs[4] = {0, '+', ' ', '+'};
  Sign = Signs[(Flags >> 1) & 3];
  static_assert(ShowPlus == 2 && ShowSpace == 4);
  if (Signed && static_cast<INT32>(High) < 0) {
    Sign = '-';
    High = 0 - High - (Low != 0 ? 1 : 0);
    Low = 0 - Low;
  }
  const bool Hex = (Flags & Base16) != 0;
  const bool Group = !Hex && (Flags & GroupThousands) != 0;
  if (Group) {
    Precision = 1;
    Flags &= ~ZeroFill;
  }
  CHAR8* const Last = Scratch + ScratchTextLength;
  CHAR8* Digit = Last;
  if ((Low | High) != 0 || Precision != 0) {
    Digit = PutDigits(Digit, Low, High, Hex, 1, Group ? 0 : NoGroups);
  }
  NumberCounts(Digit, Last);
}

// A number's text runs from Digit to Last, and a sign character counts with
// it. Out of line: the engine's loop has enough values in hand already.
[[gnu::noinline, gnu::fastcall]] void Engine::NumberCounts(const CHAR8* Digit, const CHAR8* Last) {
  Text = Bytes(Digit);
  Limit = static_cast<UINTN>(Bytes(Last) - Text);
  Count = Limit;
  Filler = '0';
  if (Sign != 0) {
    ++Count;
    // A precision run saturated at 0xFFFFFFFF stays the largest rather than wrapping to 0.
    if (Precision != MaxCount) {
      ++Precision;
    }
  }
  // Without a width (0) the digits and sign are wider anyway.
  if ((Flags & (ZeroFill | AlignLeft | PrecisionGiven)) == ZeroFill) {
    Precision = Width;
  }
}

// Chooses the text for a conversion character, or for a line end outside
// "%"; a line end may consume the next format character. One-character
// texts are CHAR16 texts in the scratch text.
void Engine::ConvertElement(UINT32 Conversion) {
  const CHAR8* Chosen = nullptr;  // none: a one-character text
  if (Conversion == '\n' || Conversion == '\r') {
    // Serial terminals need both line-end characters; either order in the
    // format, or a line feed alone, becomes one "\r\n".
    Chosen = "\r\n";
    if (Peek(Step) == ('\n' ^ '\r' ^ Conversion)) {
      At += Step;
    } else if (Conversion == '\r') {
      Chosen = "\r";
    }
  } else {
    UINTN Kind = 0;
    while (ConversionLetters[Kind] != 0 && static_cast<UINT8>(ConversionLetters[Kind]) != Conversion) {
      ++Kind;
    }
    if (Kind < FirstString) {
      // Every bit of the change is set, then the ones to clear are flipped back.
      Flags = (Flags | NumberChanges[Kind]) ^ (NumberChanges[Kind] & ClearableBits);
      NumberText();
      return;
    }
    if (Kind <= Character) {
      // Every other conversion takes one slot: a pointer, a status or a character.
      const UINT32 Value = Arguments.Take32();
      if (Kind < FirstRecord) {
        Chosen = reinterpret_cast<const CHAR8*>(static_cast<UINTN>(Value));
        if (Chosen == nullptr) {
          Chosen = "<null string>";
        } else if (Kind != FirstString) {
          TextStep = 2;
        }
      } else if (Kind < Character) {
        Chosen = RecordTexts::RecordText(Conversion, Value, Scratch);
      } else {
        Conversion = Value;
      }
    }
  }
  if (Chosen == nullptr) {
    // "%c", "%%", an unknown character, or the end of the format (an empty
    // text): one CHAR16 character and its terminator, in little-endian order.
    const UINT32 Single = Conversion & 0xFFFF;
    __builtin_memcpy(Scratch, &Single, sizeof(Single));
    Chosen = Scratch;
    TextStep = 2;
  } else if ((Flags & PrecisionGiven) == 0) {
    // Strings and line ends print whole unless a precision limits them; the
    // record texts are never empty, so 0 or 1 prints them alike.
    Precision = 0;
  }
  Text = Bytes(Chosen);
}

// Measures the element's text as far as padding needs, writes what goes
// before the text (padding, sign, zeros or blanks) and returns the padding
// that goes after it.
UINTN Engine::PadElement() {
  if (Filler == ' ') {
    // Not a number, whose count is known. A precision limits the characters
    // taken; padding needs no count beyond the width and the precision.
    if ((Flags & PrecisionGiven) != 0) {
      Limit = Precision;
    }
    const UINTN Padded = Width > Precision ? Width : Precision;
    const UINTN Needed = Padded < Limit ? Padded : Limit;
    Count = Needed != 0 ? Out.Walk(Text, TextStep, Needed, Output::Measure) : 0;
  }
  if (Precision < Count) {
    Precision = Count;
  }
  // Width is 0 unless one was given.
  const UINTN Padding = Width > Precision ? Width - Precision : 0;
  const UINTN After = (Flags & AlignLeft) != 0 ? Padding : 0;
  // Most elements have no padding, sign or leading zeros: no call for those.
  if (Padding != After) {
    Out.Fill(Padding - After, " ");
  }
  if (Sign != 0) {
    Out.Fill(1, &Sign);
  }
  if (Precision != Count) {
    Out.Fill(Precision - Count, &Filler);
  }
  return After;
}

UINT8* Engine::Write(UINTN CallerFlags) {
  for (;;) {
    // No further element starts once the end bound is reached.
    const UINT32 Character = Peek(0);
    if (Character == 0 || Out.Full()) {
      break;
    }
    // Plain characters are elements of one character each, with nothing to
    // pad: a run of them is taken at once.
    const bool Run = !StartsElement(Character);
    UINTN After = 0;
    if (Run) {
      Text = At;
      TextStep = Step;
      Limit = MaxCount;
    } else {
      StartElement(CallerFlags);
      // A line end outside "%" is its own conversion character; with no
      // width or precision its padding is none.
      ConvertElement(Character == '%' ? ParseElement() : Character);
      At += Step;
      After = PadElement();
    }
    const UINTN Copied = Out.Copy(Text, TextStep, Limit, Run);
    if (Run) {
      At += Copied * Step;
    }
    if (After != 0) {
      Out.Fill(After, " ");
    }
  }
  return Out.Position;
}
}  // namespace

UINT8* FillChars(UINT8* Position, const UINT8* End, INTN Count, UINT16 Character, UINTN CharacterSize) {
  for (INTN Written = 0; Written < Count && Position < End; ++Written) {
    if (CharacterSize == 2) {
      // A 16-bit character that does not fit whole is not started.
      if (End - Position < 2) {
        break;
      }
      *Position++ = static_cast<UINT8>(Character);
      *Position++ = static_cast<UINT8>(Character >> 8);
    } else {
      *Position++ = static_cast<UINT8>(Character);
    }
  }
  return Position;
}

CHAR8* ValueToDigits(CHAR8* Scratch, UINT64 Value, UINTN Radix) {
  CHAR8* Position = Scratch;
  *Position = 0;
  do {
    UINT32 Remainder;
    // Once the value fits 32 bits the processor's own division does; before
    // that, two 32-bit steps without a compiler helper.
    if (Radix != 0 && (Value >> 32) == 0) {
      const UINT32 Low = static_cast<UINT32>(Value);
      Remainder = Low % Radix;
      Value = Low / Radix;
    } else {
      Value = DivU64x32Remainder(Value, Radix, &Remainder);
    }
    *++Position = HexDigits[Remainder & 0x0F];
  } while (Value != 0);
  return Position;
}

UINTN FormatEngine(VOID* Buffer, UINTN BufferSize, UINTN Flags, const VOID* Format, const UINT32* ArgumentList,
                   const UINT32* OverrideList) {
  const bool Measuring = (Flags & MeasureOnly) != 0;
  const UINTN SizeShift = (Flags / WideOutput) & 1;
  auto* Start = static_cast<UINT8*>(Buffer);
  if (!Measuring) {
    if (BufferSize == 0) {
      return 0;
    }
    Check(Start != nullptr, PrintLibSites::BufferPresent);
    // Nothing can be written through a null buffer, not even the terminator.
    if (Start == nullptr) {
      return 0;
    }
  } else if (BufferSize == 0) {
    Start = nullptr;
  }

  UINT8* End = Start;
  if (Start != nullptr) {
    // A size reaching past the end of the address space is cut there, so
    // that the end bound cannot wrap below the start.
    const UINTN Fits = (0u - reinterpret_cast<UINTN>(Start)) >> SizeShift;
    if (BufferSize > Fits) {
      BufferSize = Fits;
    }
    // A buffer that starts in the last byte has no room for a CHAR16.
    if (BufferSize == 0) {
      return 0;
    }
    // Integer arithmetic: the bound may lie far beyond the caller's object.
    End = reinterpret_cast<UINT8*>(reinterpret_cast<UINTN>(Start) + ((BufferSize - 1) << SizeShift));
  }

  // The size checks of the format and of the result can never fail (a size
  // counts the terminator and cannot wrap in a 32-bit address space); what
  // they can report comes from the length walk inside them: a missing string,
  // or characters beyond the build's length limit. So the walk alone is kept,
  // and only where the build can report from it.
  const UINTN Step = 1 + ((Flags / WideFormat) & 1);
  if constexpr (AssertChecksEnabled()) {
    if (Step == 2) {
      StrSize(static_cast<const CHAR16*>(Format));
    } else if (Settings::PcdMaximumAsciiStringLength != 0 || Format == nullptr) {
      AsciiStrSize(static_cast<const CHAR8*>(Format));
    }
  }
  // A missing format has been reported; it prints as an empty one.
  static constexpr UINT8 EmptyFormat[2] = {0, 0};
  const UINT8* At = Format != nullptr ? static_cast<const UINT8*>(Format) : EmptyFormat;

  // Nothing is stored when measuring or without a buffer; a measured buffer
  // of one character takes no element at all.
  const bool Storing = Start != nullptr && !Measuring;
  Engine Call(At, Step, OverrideList != nullptr ? OverrideList : ArgumentList, Start, Storing ? End : Start,
              SizeShift != 0, Storing);
  UINT8* Terminator = Start;
  if (Start == nullptr || Start < End) {
    Terminator = Call.Write(Flags & CallerBits);
  }

  if (Measuring) {
    return Call.Measured();
  }

  // The buffer is present here (a missing one returned at the start), and End
  // is one character short of its end, so the terminator fits.
  Terminator[0] = 0;
  if (SizeShift != 0) {
    Terminator[1] = 0;
  }
  if constexpr (AssertChecksEnabled()) {
    if (SizeShift != 0) {
      StrSize(reinterpret_cast<const CHAR16*>(Start));
    } else if constexpr (Settings::PcdMaximumAsciiStringLength != 0) {
      AsciiStrSize(reinterpret_cast<const CHAR8*>(Start));
    }
  }
  return static_cast<UINTN>(Terminator - Start) >> SizeShift;
}

// On i686 a va_list is a pointer to the caller's 4-byte argument slots, which
// is exactly the engine's argument list.
static_assert(sizeof(va_list) == sizeof(const UINT32*), "va_list must point at the argument slots");

UINTN FormatToBuffer(VOID* Buffer, UINTN BufferSize, UINTN Flags, const VOID* Format, ...) {
  va_list Arguments;
  va_start(Arguments, Format);
  const UINTN Length =
      FormatEngine(Buffer, BufferSize, Flags, Format, reinterpret_cast<const UINT32*>(Arguments), nullptr);
  va_end(Arguments);
  return Length;
}

UINTN AsciiFormatList(CHAR8* Buffer, UINTN BufferSize, const CHAR8* Format, va_list Arguments) {
  return FormatEngine(Buffer, BufferSize, 0, Format, reinterpret_cast<const UINT32*>(Arguments), nullptr);
}

UINTN AsciiFormat(CHAR8* Buffer, UINTN BufferSize, const CHAR8* Format, ...) {
  va_list Arguments;
  va_start(Arguments, Format);
  const UINTN Length =
      FormatEngine(Buffer, BufferSize, 0, Format, reinterpret_cast<const UINT32*>(Arguments), nullptr);
  va_end(Arguments);
  return Length;
}
