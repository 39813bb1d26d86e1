// The format engine in four stages that hand plain data on: the parser reads
// a "%" element into a Directive, its conversion describes the text in a Piece,
// PadsFor works out the padding, and the bounded writer stores it; plus the
// front ends.
#include "PrintLibInternal.h"
#include "DigitText.h"
#include "RecordTexts.h"

#include "Library/BaseLib.h"

// Attributes, the one place they are chosen: the engine is one loop with its
// stages inlined, and only the routines that many sites call are out of line
// (noinline) and take their first arguments in registers (fastcall): the
// digit writer PutDigits (numbers, record texts, ValueToDigits) and the
// writer's Fill and Copy. Measured with the engine benchmark: leaving Fill and
// Copy to the compiler costs 137 bytes; fastcall saves 17 bytes on them (for
// up to 9 instructions a message) and 7 bytes and 5 to 12 instructions a
// message on PutDigits. Nothing else carries an attribute.

namespace {
using namespace PrintFlags;

constexpr UINT32 MaxCount = 0xFFFFFFFF;

// A format or text character; 16-bit ones are read a byte at a time because
// they need not be aligned.
UINT32 ReadCharacter(const UINT8* At, UINTN Step) { return Step == 2 ? (At[0] | (At[1] << 8)) : At[0]; }

const UINT8* Bytes(const CHAR8* Text) { return reinterpret_cast<const UINT8*>(Text); }

// The characters that end a run of plain format characters.
constexpr bool StartsElement(UINT32 Character) {
  constexpr UINT32 Controls = 1u << 0 | 1u << '\n' | 1u << '\r';
  return Character == '%' || (Character <= '\r' && ((Controls >> Character) & 1) != 0);
}

// A line end in the format and what it becomes: serial terminals need both
// characters, so a line feed, or either order of the pair, is one "\r\n"; a
// carriage return alone stays.
struct LineEnd {
  const CHAR8* Text;
  UINT32 Taken;  // format characters it takes
};
constexpr LineEnd LineEndAt(UINT32 Character, UINT32 Next) {
  if (Next == ('\n' ^ '\r' ^ Character)) {
    return {"\r\n", 2};
  }
  return {Character == '\n' ? "\r\n" : "\r", 1};
}
static_assert(LineEndAt('\n', 'x').Taken == 1 && LineEndAt('\n', 'x').Text[1] == '\n');
static_assert(LineEndAt('\n', '\r').Taken == 2 && LineEndAt('\r', '\n').Taken == 2);
static_assert(LineEndAt('\r', '\r').Taken == 1 && LineEndAt('\r', '\r').Text[1] == 0);

// The bounded writer of one call, and the only code that stores output. It
// counts every character (saturating at MaxCount) and stores those that fit
// below End, which leaves one character for the terminator; End lies a whole
// number of characters after the start, so a character that starts below it
// fits. Without Storing (MeasureOnly, or no buffer) it only counts, and End
// is not read.
class Writer {
public:
  Writer(UINT8* Start, UINT8* End, bool Wide, bool Storing)
      : Position(Start), End(End), Wide(Wide), Storing(Storing) {}

  bool Full() const { return Storing && Position >= End; }
  // Times copies of Character.
  [[gnu::noinline, gnu::fastcall]] void Fill(UINT32 Times, UINT32 Character);
  // A text of Step-byte characters, up to its terminator or Most characters;
  // nothing past Most is read (a text may end there without a terminator).
  [[gnu::noinline, gnu::fastcall]] void Copy(const UINT8* Text, UINT32 Step, UINT32 Most);
  // Plain format characters and line ends, up to an element, the end of the
  // format or the bound; returns where it stopped in the format (once the
  // bound is reached, anywhere in the run: nothing more is written).
  const UINT8* CopyFormat(const UINT8* At, UINT32 Step);

  UINT8* Position;
  UINT32 Counted = 0;

private:
  void Count(UINT32 Characters) { Counted = Counted + Characters < Characters ? MaxCount : Counted + Characters; }
  void Store(UINT8*& Out, UINT32 Character) const {
    *Out++ = static_cast<UINT8>(Character);
    if (Wide) {
      *Out++ = static_cast<UINT8>(Character >> 8);
    }
  }

  UINT8* End;
  bool Wide;
  bool Storing;
};

void Writer::Fill(UINT32 Times, UINT32 Character) {
  // Counted at once, so that a huge count costs nothing when measuring.
  Count(Times);
  if (!Storing) {
    return;
  }
  // The position is kept in a local: a store through a byte pointer could
  // alias the member and make the compiler reload it every time.
  UINT8* Out = Position;
  for (; Times != 0 && Out < End; --Times) {
    Store(Out, Character);
  }
  Position = Out;
}

void Writer::Copy(const UINT8* Text, UINT32 Step, UINT32 Most) {
  UINT8* Out = Position;
  UINT32 Index = 0;
  if (Storing && Step == 1 && !Wide) {
    // Byte text into byte output, the common case: a plain bounded copy.
    const UINT32 Room = static_cast<UINT32>(End - Out);
    if (Most > Room) {
      Most = Room;
    }
    for (; Index < Most && Text[Index] != 0; ++Index) {
      Out[Index] = Text[Index];
    }
    Out += Index;
  } else {
    for (; Index < Most; ++Index, Text += Step) {
      const UINT32 Character = ReadCharacter(Text, Step);
      if (Character == 0) {
        break;
      }
      if (Storing) {
        if (Out >= End) {
          break;
        }
        Store(Out, Character);
      }
    }
  }
  Position = Out;
  Count(Index);
}

const UINT8* Writer::CopyFormat(const UINT8* At, UINT32 Step) {
  for (;;) {
    UINT32 Character;
    if (Storing && Step == 1 && !Wide) {
      // Byte format into byte output: a plain copy up to the next character
      // that needs a look.
      UINT8* const Out = Position;
      const UINT32 Room = static_cast<UINT32>(End - Out);
      UINT32 Index = 0;
      for (; Index < Room && !StartsElement(At[Index]); ++Index) {
        Out[Index] = At[Index];
      }
      Position = Out + Index;
      Count(Index);
      At += Index;
      Character = At[0];
    } else {
      // Any other widths, or counting only: the run is measured, then
      // written as a text.
      const UINT8* Run = At;
      UINT32 Length = 0;
      for (; !StartsElement(Character = ReadCharacter(At, Step)); At += Step) {
        ++Length;
      }
      Copy(Run, Step, Length);
    }
    if ((Character != '\n' && Character != '\r') || Full()) {
      return At;
    }
    const LineEnd Translated = LineEndAt(Character, ReadCharacter(At + Step, Step));
    Copy(Bytes(Translated.Text), 1, 2);
    At += Translated.Taken * Step;
  }
}

// What the parser reads from a "%" element.
enum class Conversion : UINT8 {
  Decimal,        // "d"
  Unsigned,       // "u"
  Hex,            // "x"
  HexZeroFilled,  // "X"
  Pointer,        // "p"
  ByteString,     // "a"
  WideString,     // "s", "S"
  Guid,           // "g"
  Time,           // "t"
  Status,         // "r"
  Character,      // "c"
  LineEnd,        // "\n", "\r"
  Literal,        // any other character prints itself; 0 prints nothing
};
constexpr UINTN NumberKinds = static_cast<UINTN>(Conversion::Pointer) + 1;

struct ConversionLetter {
  UINT8 Letter;
  Conversion Kind;
};
// In the order a lookup meets them: the letters firmware messages use most first.
constexpr ConversionLetter ConversionLetters[] = {
    {'a', Conversion::ByteString},   {'d', Conversion::Decimal},    {'x', Conversion::Hex},
    {'X', Conversion::HexZeroFilled}, {'u', Conversion::Unsigned},   {'r', Conversion::Status},
    {'p', Conversion::Pointer},      {'s', Conversion::WideString}, {'S', Conversion::WideString},
    {'g', Conversion::Guid},         {'t', Conversion::Time},       {'c', Conversion::Character},
    {'\n', Conversion::LineEnd},     {'\r', Conversion::LineEnd},
};

constexpr Conversion KindOf(UINT32 Letter) {
  for (const ConversionLetter& Entry : ConversionLetters) {
    if (Entry.Letter == Letter) {
      return Entry.Kind;
    }
  }
  return Conversion::Literal;
}
static_assert(KindOf('X') == Conversion::HexZeroFilled && KindOf('S') == KindOf('s'));
static_assert(KindOf('%') == Conversion::Literal && KindOf(0) == Conversion::Literal);
static_assert(KindOf('d' | 0x100) == Conversion::Literal, "only the whole 16-bit value converts");

// The options each number conversion changes: the bits it clears, then the
// bits it sets (all of them in the low byte).
struct OptionChange {
  UINT8 Set;
  UINT8 Clear;
};
static_assert((ShowPlus | ShowSpace | Value64 | Base16 | ZeroFill) <= 0xFF);
constexpr OptionChange NumberOptions[NumberKinds] = {
    {0, 0},                                                // "d"
    {0, ShowPlus},                                         // "u" drops "+"
    {Base16, 0},                                           // "x"
    {Base16 | ZeroFill, 0},                                // "X"
    {Base16 | ZeroFill, ShowPlus | ShowSpace | Value64},   // "p" drops "+", " " and "l"
};

// What the characters from " " to "." do inside an element: set an option or
// take a "*" value; 0 is any other character. Digits, which belong to a run,
// are told apart before the table. Two marks outside the options word stand
// for the "*" value and the digit run.
constexpr UINT16 TakesArgument = 0x8000;
constexpr UINT16 InDigitRun = 0x1000;
static_assert(((TakesArgument | InDigitRun) & (CallerBits | AlignLeft | ShowPlus | ShowSpace | GroupThousands |
                                               Value64 | ZeroFill | Base16 | PrecisionGiven)) == 0);
constexpr UINT32 FlagCharacters = '.' - ' ' + 1;
struct FlagTable {
  UINT16 Action[FlagCharacters];
};
constexpr FlagTable MakeFlagTable() {
  FlagTable Table = {};
  Table.Action[' ' - ' '] = ShowSpace;
  Table.Action['+' - ' '] = ShowPlus;
  Table.Action['-' - ' '] = AlignLeft;
  Table.Action[',' - ' '] = GroupThousands;
  Table.Action['.' - ' '] = PrecisionGiven;
  Table.Action['*' - ' '] = TakesArgument;
  return Table;
}
constexpr FlagTable ElementFlags = MakeFlagTable();

// Stage 1, the parser's result: what a "%" element asks for.
struct Directive {
  UINT32 Options;    // the caller's bits and the flags given
  UINT32 Width;      // 0 when none is given
  UINT32 Precision;  // 1 when none is given (0 when the format ends inside the element)
  UINT32 Character;  // the conversion character, 0 at the end of the format
  Conversion Kind;
};

// Stage 2, a conversion's result: where its text is and how much of it counts.
struct Piece {
  const UINT8* Text;  // the first character; for a number its most significant digit
  UINT32 Step;        // bytes per character of Text: 1, or 2 for CHAR16 text
  UINT32 Length;      // characters padding counts: all of a number, a text only as far as padding needs
  UINT32 Limit;       // characters of Text written at most
  UINT32 Least;       // characters wanted at least, without a sign: the precision, or 0 for a whole string
  CHAR8 Sign;         // 0, or the "-", "+" or " " before a number
  bool Number;        // filled up to Least with zeros after the sign; any other text with blanks
  bool ZerosToWidth;  // zero fill without a precision: the zeros take the whole width
};

// Stage 3: the padding of a piece in its field.
struct Pads {
  UINT32 Before;  // blanks before the sign and text
  UINT32 Fill;    // zeros (numbers) or blanks (other texts) after the sign, up to Least or the width
  UINT32 After;   // blanks after the text, when aligned left
};

constexpr Pads PadsFor(const Directive& Element, const Piece& Text) {
  const UINT32 SignLength = Text.Sign != 0 ? 1 : 0;
  // The sign, the fill and the text; never shorter than sign and text.
  UINT32 Body = Text.ZerosToWidth ? Element.Width : Text.Least + SignLength;
  if (Body < Text.Length + SignLength) {
    Body = Text.Length + SignLength;
  }
  const UINT32 Blanks = Element.Width > Body ? Element.Width - Body : 0;
  const bool Left = (Element.Options & AlignLeft) != 0;
  return {Left ? 0 : Blanks, Body - SignLength - Text.Length, Left ? Blanks : 0};
}

constexpr bool PadsAre(const Pads& Got, UINT32 Before, UINT32 Fill, UINT32 After) {
  return Got.Before == Before && Got.Fill == Fill && Got.After == After;
}
// "%05d" of -42 is "-0042": the zeros take the width after the sign.
static_assert(PadsAre(PadsFor({ZeroFill, 5, 1, 'd', Conversion::Decimal}, {nullptr, 1, 2, 2, 1, '-', true, true}),
                      0, 2, 0));
// "%-5d" of 42 is "42   "; "%5.3d" of 7 is "  007".
static_assert(PadsAre(PadsFor({AlignLeft, 5, 1, 'd', Conversion::Decimal}, {nullptr, 1, 2, 2, 1, 0, true, false}),
                      0, 0, 3));
static_assert(PadsAre(PadsFor({PrecisionGiven, 5, 3, 'd', Conversion::Decimal}, {nullptr, 1, 1, 1, 3, 0, true, false}),
                      2, 2, 0));
// "%2d" of 12345 is all five digits; "%.0d" of 0 is nothing at all.
static_assert(PadsAre(PadsFor({0, 2, 1, 'd', Conversion::Decimal}, {nullptr, 1, 5, 5, 1, 0, true, false}), 0, 0, 0));
static_assert(PadsAre(PadsFor({PrecisionGiven, 0, 0, 'd', Conversion::Decimal}, {nullptr, 1, 0, 0, 0, 0, true, false}),
                      0, 0, 0));
// "%8.3a" of "abcdef" is five blanks and "abc"; "%.6a" of "abc" is "   abc".
static_assert(PadsAre(PadsFor({PrecisionGiven, 8, 3, 'a', Conversion::ByteString}, {nullptr, 1, 3, 3, 3, 0, false, false}),
                      5, 0, 0));
static_assert(PadsAre(PadsFor({PrecisionGiven, 0, 6, 'a', Conversion::ByteString}, {nullptr, 1, 3, 6, 6, 0, false, false}),
                      0, 3, 0));

// One call of the engine: the format cursor, the argument slots, the writer,
// and the scratch text that numbers, records and single characters use.
class Engine {
public:
  Engine(const UINT8* Format, UINTN Step, const UINT32* Slots, UINT8* Start, UINT8* End, bool Wide, bool Storing)
      : At(Format), Step(Step), Arguments(Slots), Out(Start, End, Wide, Storing) {}

  // Runs the format; returns where the output stops.
  UINT8* Run(UINT32 CallerOptions);
  UINT32 Counted() const { return Out.Counted; }

private:
  Directive Parse(UINT32 CallerOptions);
  Piece Convert(const Directive& Element);
  Piece NumberPiece(const Directive& Element);
  void Write(const Pads& Padding, const Piece& Text);

  const UINT8* At;
  UINTN Step;
  ArgSlots Arguments;
  Writer Out;
  CHAR8 Scratch[ScratchTextLength];
};

// Reads flags, width and precision after "%" and the conversion character;
// the cursor is left on it (on the character before the end when the format
// ends inside the element, so that the main loop stops after it).
Directive Engine::Parse(UINT32 CallerOptions) {
  Directive Element = {CallerOptions, 0, 1, 0, Conversion::Literal};
  const UINT8* Cursor = At;
  // A width or precision reads as a signed 32-bit value, from digits or from
  // "*": a negative one is not given (a field wider than the address space is
  // no field). A dropped precision counts as none unless a later one replaces it.
  bool PrecisionDropped = false;
  bool InNumber = false;
  UINT32 Value = 0;
  for (;;) {
    Cursor += Step;
    const UINT32 Character = ReadCharacter(Cursor, Step);
    const UINT32 Action = Character - '0' < 10               ? InDigitRun
                          : Character - ' ' < FlagCharacters ? ElementFlags.Action[Character - ' ']
                                                             : 0;
    if (Action == InDigitRun) {
      // Each digit sets the width or precision again. A run too long for 32
      // bits saturates rather than wrapping to a small value; only a run's
      // leading "0" zero-fills.
      if (!InNumber) {
        Value = 0;
        if (Character == '0' && (Element.Options & PrecisionGiven) == 0) {
          Element.Options |= ZeroFill;
        }
      }
      if (__builtin_mul_overflow(Value, 10u, &Value) || __builtin_add_overflow(Value, Character - '0', &Value)) {
        Value = MaxCount;
      }
    } else if (Action == TakesArgument) {
      Value = Arguments.Take32();
    } else {
      InNumber = false;
      if (Action != 0) {
        Element.Options |= Action;
      } else if ((Character | 0x20) == 'l') {
        Element.Options |= Value64;
      } else {
        if (Character == 0) {
          Element.Precision = 0;
          Cursor -= Step;
        } else if (PrecisionDropped) {
          Element.Options &= ~PrecisionGiven;
          Element.Precision = 1;
        }
        At = Cursor;
        Element.Character = Character;
        Element.Kind = KindOf(Character);
        return Element;
      }
      continue;
    }
    InNumber = Action == InDigitRun;
    const bool Negative = static_cast<INT32>(Value) < 0;
    // A number before any "." is the width, after it the precision.
    if ((Element.Options & PrecisionGiven) != 0) {
      Element.Precision = Value;
      PrecisionDropped = Negative;
    } else {
      Element.Width = Negative ? 0 : Value;
    }
  }
}

// Numbers: the digits are written backwards from the end of the scratch
// text, so that they read forwards.
Piece Engine::NumberPiece(const Directive& Element) {
  const OptionChange Change = NumberOptions[static_cast<UINTN>(Element.Kind)];
  UINT32 Options = (Element.Options & ~static_cast<UINT32>(Change.Clear)) | Change.Set;
  UINT32 Least = Element.Precision;
  // Only "d" is signed: a 32-bit value is sign-extended for it, while "u",
  // "x", "X" and "p" print the unsigned pattern it was passed as.
  const bool Signed = Element.Kind == Conversion::Decimal;
  UINT32 Low = Arguments.Take32();
  UINT32 High = 0;
  if ((Options & Value64) != 0) {
    High = Arguments.Take32();
  } else if (Signed) {
    High = static_cast<UINT32>(static_cast<INT32>(Low) >> 31);
  }
  // "+" wins over " "; "-" over both.
  CHAR8 Sign = (Options & ShowPlus) != 0 ? '+' : (Options & ShowSpace) != 0 ? ' ' : 0;
  if (Signed && static_cast<INT32>(High) < 0) {
    Sign = '-';
    High = 0 - High - (Low != 0 ? 1 : 0);
    Low = 0 - Low;
  }
  const bool Hex = (Options & Base16) != 0;
  const bool Group = !Hex && (Options & GroupThousands) != 0;
  if (Group) {
    // Separators make a precision or zero fill meaningless.
    Least = 1;
    Options &= ~ZeroFill;
  }
  CHAR8* const Last = Scratch + ScratchTextLength;
  const CHAR8* Digit = Last;
  if ((Low | High) != 0 || Least != 0) {
    Digit = PutDigits(Last, Low, High, Hex, 1, Group ? 0 : NoGroups);
  }
  const UINT32 Length = static_cast<UINT32>(Last - Digit);
  const bool ZerosToWidth = (Options & (ZeroFill | AlignLeft | PrecisionGiven)) == ZeroFill;
  return {Bytes(Digit), 1, Length, Length, Least, Sign, true, ZerosToWidth};
}

// Chooses the text for a conversion and measures it as far as padding needs.
Piece Engine::Convert(const Directive& Element) {
  if (static_cast<UINTN>(Element.Kind) < NumberKinds) {
    return NumberPiece(Element);
  }
  // Strings, records and line ends print whole unless a precision limits
  // them; a single character keeps the precision it has (1 unless given).
  // A precision that is given lies below 2^31 (the parser drops larger ones),
  // so a limit of MaxCount means none.
  const UINT32 Limit = (Element.Options & PrecisionGiven) != 0 ? Element.Precision : MaxCount;
  UINT32 Least = Limit != MaxCount ? Limit : 0;
  const CHAR8* Chosen;
  UINT32 TextStep = 1;
  const Conversion Kind = Element.Kind;
  if (Kind == Conversion::ByteString || Kind == Conversion::WideString) {
    Chosen = reinterpret_cast<const CHAR8*>(static_cast<UINTN>(Arguments.Take32()));
    if (Chosen == nullptr) {
      Chosen = "<null string>";
    } else if (Kind == Conversion::WideString) {
      TextStep = 2;
    }
  } else if (Kind == Conversion::Guid || Kind == Conversion::Time || Kind == Conversion::Status) {
    // The record texts are never empty, so a precision of 0 or 1 prints them alike.
    Chosen = RecordTexts::RecordText(Element.Character, Arguments.Take32(), Scratch);
  } else if (Kind == Conversion::LineEnd) {
    const LineEnd Translated = LineEndAt(Element.Character, ReadCharacter(At + Step, Step));
    Chosen = Translated.Text;
    At += (Translated.Taken - 1) * Step;
  } else {
    // "%c", "%%", an unknown character, or the end of the format (an empty
    // text): one CHAR16 character and its terminator, in little-endian order.
    const UINT32 Single = (Kind == Conversion::Character ? Arguments.Take32() : Element.Character) & 0xFFFF;
    __builtin_memcpy(Scratch, &Single, sizeof(Single));
    Chosen = Scratch;
    TextStep = 2;
    Least = Element.Precision;
  }
  // Padding needs no count beyond the width and the precision.
  const UINT32 Padded = Element.Width > Least ? Element.Width : Least;
  const UINT32 Needed = Padded < Limit ? Padded : Limit;
  UINT32 Length = 0;
  for (const UINT8* Text = Bytes(Chosen); Length < Needed && ReadCharacter(Text, TextStep) != 0; Text += TextStep) {
    ++Length;
  }
  return {Bytes(Chosen), TextStep, Length, Limit, Least, 0, false, false};
}

// Stage 4: the padding, sign and text go to the writer; most elements have
// no padding, sign or fill, and make no call for them.
void Engine::Write(const Pads& Padding, const Piece& Text) {
  if (Padding.Before != 0) {
    Out.Fill(Padding.Before, ' ');
  }
  if (Text.Sign != 0) {
    Out.Fill(1, static_cast<UINT8>(Text.Sign));
  }
  if (Padding.Fill != 0) {
    Out.Fill(Padding.Fill, Text.Number ? '0' : ' ');
  }
  Out.Copy(Text.Text, Text.Step, Text.Limit);
  if (Padding.After != 0) {
    Out.Fill(Padding.After, ' ');
  }
}

UINT8* Engine::Run(UINT32 CallerOptions) {
  for (;;) {
    // No further element starts once the end bound is reached.
    const UINT32 Character = ReadCharacter(At, Step);
    if (Character == 0 || Out.Full()) {
      break;
    }
    if (Character != '%') {
      At = Out.CopyFormat(At, Step);
      continue;
    }
    const Directive Element = Parse(CallerOptions);
    const Piece Text = Convert(Element);
    At += Step;
    Write(PadsFor(Element, Text), Text);
  }
  return Out.Position;
}
}  // namespace

// The engine's own writer does the work: the end is cut to whole characters,
// since a 16-bit character that does not fit whole is not started.
UINT8* FillChars(UINT8* Position, const UINT8* End, INTN Count, UINT16 Character, UINTN CharacterSize) {
  if (Count <= 0 || End <= Position) {
    return Position;
  }
  const bool Wide = CharacterSize == 2;
  const UINTN Room = static_cast<UINTN>(End - Position) & (Wide ? ~UINTN{1} : ~UINTN{0});
  Writer Out(Position, Position + Room, Wide, true);
  Out.Fill(static_cast<UINT32>(Count), Character);
  return Out.Position;
}

// The engine's digit writer does the work for the engine's radixes; its
// digits are reversed into the scratch text after the leading 0. A caller's
// other radix still gets its own digits, one division at a time.
CHAR8* ValueToDigits(CHAR8* Scratch, UINT64 Value, UINTN Radix) {
  if (Radix != 10 && Radix != 16) {
    CHAR8* Position = Scratch;
    *Position = 0;
    do {
      // Radix 0 is reported as the division by zero it stands for.
      UINT32 Remainder = 0;
      Value = DivU64x32Remainder(Value, static_cast<UINT32>(Radix), &Remainder);
      *++Position = HexDigits[Remainder & 0x0F];
    } while (Value != 0);
    return Position;
  }
  CHAR8 Digits[20];
  CHAR8* const Last = Digits + sizeof(Digits);
  const CHAR8* Digit =
      PutDigits(Last, static_cast<UINT32>(Value), static_cast<UINT32>(Value >> 32), Radix == 16, 1, NoGroups);
  CHAR8* Position = Scratch;
  *Position = 0;
  for (const CHAR8* From = Last; From != Digit;) {
    *++Position = *--From;
  }
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
  Engine Call(At, Step, OverrideList != nullptr ? OverrideList : ArgumentList, Start, End, SizeShift != 0, Storing);
  UINT8* Terminator = Start;
  if (Start == nullptr || Start < End) {
    Terminator = Call.Run(Flags & CallerBits);
  }

  if (Measuring) {
    return Call.Counted();
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
