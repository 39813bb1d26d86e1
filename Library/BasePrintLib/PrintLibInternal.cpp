// The format engine: the main loop over format elements, parsing, the
// conversions, measuring, padding and bounded writing, and the front ends.
#include "PrintLibInternal.h"

#include "Library/BaseLib.h"

namespace {
using namespace PrintFlags;

constexpr UINTN MaxCount = 0xFFFFFFFF;

// The characters that start an element of more than one character; all others
// are copied as they are.
constexpr bool StartsElement(UINT32 Character) {
  return Character <= '%' && (Character == '%' || Character == '\n' || Character == '\r' || Character == 0);
}

// A format or text character; 16-bit ones are read a byte at a time because
// they need not be aligned.
UINT32 ReadCharacter(const UINT8* At, UINTN Step) { return Step == 2 ? (At[0] | (At[1] << 8)) : At[0]; }

// Where a text stops: at its terminator, or, for a run of plain format
// characters, also at the first character that starts an element.
bool Stops(UINT32 Character, bool Run) { return StartsElement(Character) && (Character == 0 || Run); }

// Characters of a text before it stops, at most Limit; nothing past the limit
// is read (the text may end there without a terminator).
[[gnu::noinline]] UINTN TextLength(const UINT8* Text, UINTN Step, UINTN Limit, bool Run) {
  UINTN Count = 0;
  for (; Count < Limit && !Stops(ReadCharacter(Text, Step), Run); Text += Step) {
    ++Count;
  }
  return Count;
}

// Owns the output bound: characters are stored only below End, which leaves
// one character for the terminator. End lies a whole number of characters
// after the start, so a character that starts below it fits.
class OutputWriter {
public:
  OutputWriter(UINT8* Start, UINT8* End, bool Wide) : Position(Start), End(End), Wide(Wide) {}

  bool Room() const { return Position < End; }
  UINT8* At() const { return Position; }

  [[gnu::noinline]] void Fill(UINTN Count, UINT32 Character) {
    for (; Count != 0 && Position < End; --Count) {
      Store(Character);
    }
  }
  // A text up to where it stops or Limit characters, as much as fits;
  // returns the characters taken. Byte text into byte output is the hot case.
  [[gnu::noinline]] UINTN Copy(const UINT8* Text, UINTN Step, UINTN Limit, bool Run) {
    UINTN Index = 0;
    if (Step == 1 && !Wide) {
      const UINTN Left = static_cast<UINTN>(End - Position);
      const UINTN Most = Limit < Left ? Limit : Left;
      for (; Index < Most && !Stops(Text[Index], Run); ++Index) {
        Position[Index] = Text[Index];
      }
      Position += Index;
      return Index;
    }
    for (; Index < Limit && Position < End; ++Index, Text += Step) {
      const UINT32 Character = ReadCharacter(Text, Step);
      if (Stops(Character, Run)) {
        break;
      }
      Store(Character);
    }
    return Index;
  }

private:
  void Store(UINT32 Character) {
    *Position++ = static_cast<UINT8>(Character);
    if (Wide) {
      *Position++ = static_cast<UINT8>(Character >> 8);
    }
  }

  UINT8* Position;
  UINT8* End;
  bool Wide;
};

// The option bits of the flag characters from " " to "-".
constexpr UINT8 FlagBits[] = {ShowSpace, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, ShowPlus, GroupThousands, AlignLeft};
static_assert(FlagBits['+' - ' '] == ShowPlus && FlagBits[',' - ' '] == GroupThousands &&
              FlagBits['-' - ' '] == AlignLeft);

// What the flags, width and precision after "%" asked for.
struct Specification {
  UINTN Flags;
  UINTN Width;
  UINTN Precision;
};

// A number before any "." is the width, after it the precision.
void SetWidthOrPrecision(Specification& Spec, UINTN Value) {
  if ((Spec.Flags & PrecisionGiven) == 0) {
    Spec.Flags |= WidthGiven;
    Spec.Width = Value;
  } else {
    Spec.Precision = Value;
  }
}

// Parses flags, width and precision after "%" and returns the conversion
// character; Format is left on it (on the character before the end when the
// format ends inside the element, so that the main loop stops after it).
UINT32 ParseSpecification(Specification& Spec, const UINT8*& Format, UINTN Step, ArgSlots& Arguments) {
  // A "*" value is a signed 32-bit argument: a negative width pads nothing,
  // and a negative precision counts as none given unless a later one replaces it.
  bool PrecisionDropped = false;
  for (;;) {
    Format += Step;
    UINT32 Character = ReadCharacter(Format, Step);
    if (Character >= '0' && Character <= '9') {
      if (Character == '0' && (Spec.Flags & PrecisionGiven) == 0) {
        Spec.Flags |= ZeroFill;
      }
      // A run too long for 32 bits saturates rather than wrapping to a small width.
      UINT64 Value = 0;
      for (; Character >= '0' && Character <= '9'; Format += Step, Character = ReadCharacter(Format, Step)) {
        Value = Value * 10 + (Character - '0');
        if (Value > MaxCount) {
          Value = MaxCount;
        }
      }
      Format -= Step;
      if ((Spec.Flags & PrecisionGiven) != 0) {
        PrecisionDropped = false;
      }
      SetWidthOrPrecision(Spec, static_cast<UINTN>(Value));
    } else if (Character == '*') {
      const INT32 Value = static_cast<INT32>(Arguments.Take32());
      if ((Spec.Flags & PrecisionGiven) != 0) {
        PrecisionDropped = Value < 0;
      }
      SetWidthOrPrecision(Spec, Value < 0 ? 0 : static_cast<UINTN>(Value));
    } else if (Character == '.') {
      Spec.Flags |= PrecisionGiven;
    } else if ((Character | 0x20) == 'l') {
      Spec.Flags |= Value64;
    } else if (Character - ' ' < sizeof(FlagBits) && FlagBits[Character - ' '] != 0) {
      Spec.Flags |= FlagBits[Character - ' '];
    } else if (Character == 0) {
      Spec.Precision = 0;
      Format -= Step;
      return 0;
    } else {
      if (PrecisionDropped) {
        Spec.Flags &= ~PrecisionGiven;
        Spec.Precision = 1;
      }
      return Character;
    }
  }
}

// The text an element writes after its padding: a byte or CHAR16 string read
// up to where it stops or a limit, or a digit string after an optional sign.
struct ElementText {
  const UINT8* Text;
  UINTN Step;    // 2 for CHAR16 text
  UINTN Count;   // characters, sign included
  UINTN Limit;   // characters of Text to write at most
  UINT32 Sign;   // 0, ' ', '+' or '-'
  bool Number;   // padded with zeros after the sign instead of blanks
  bool Run;      // plain format characters: stops where an element starts
};

const UINT8* Bytes(const CHAR8* Text) { return reinterpret_cast<const UINT8*>(Text); }

// Numbers: the digits are written backwards from the end of the scratch
// text, so that they read forwards; hexadecimal by shifts, decimal by the
// constant 10, values above 32 bits in pieces of eight hexadecimal or nine
// decimal digits.
void NumberText(ElementText& Out, Specification& Spec, ArgSlots& Arguments, CHAR8* Scratch) {
  UINT32 Low = Arguments.Take32();
  UINT32 High = (Spec.Flags & Value64) != 0 ? Arguments.Take32() : static_cast<UINT32>(static_cast<INT32>(Low) >> 31);
  if ((Spec.Flags & ShowSpace) != 0) {
    Out.Sign = ' ';
  }
  if ((Spec.Flags & ShowPlus) != 0) {
    Out.Sign = '+';
  }
  const bool Negative = static_cast<INT32>(High) < 0;
  const bool Hex = (Spec.Flags & Base16) != 0;
  // A group counter that starts at 4 never reaches 3: no separators.
  UINTN Grouped = 4;
  if (Hex) {
    // A 32-bit value prints as the unsigned pattern it was passed as.
    if ((Spec.Flags & Value64) == 0) {
      High = 0;
    }
  } else {
    if ((Spec.Flags & GroupThousands) != 0) {
      Grouped = 0;
      Spec.Precision = 1;
      Spec.Flags &= ~ZeroFill;
    }
    if (Negative && (Spec.Flags & TreatUnsigned) == 0) {
      Out.Sign = '-';
      High = 0 - High - (Low != 0 ? 1 : 0);
      Low = 0 - Low;
    } else if ((Spec.Flags & TreatUnsigned) != 0 && (Spec.Flags & Value64) == 0) {
      High = 0;
    }
  }
  CHAR8* const Last = Scratch + ScratchTextLength;
  CHAR8* Digit = Last;
  if ((Low | High) != 0 || Spec.Precision != 0) {
    bool Final;
    do {
      // A piece below the most significant one keeps its leading zeros.
      UINT32 Piece = Low;
      UINTN Digits = 1;
      Final = High == 0;
      if (!Final && Hex) {
        Digits = 8;
        Low = High;
        High = 0;
      } else if (!Final) {
        Digits = 9;
        const UINT64 Rest = DivU64x32Remainder((static_cast<UINT64>(High) << 32) | Low, 1000000000, &Piece);
        Low = static_cast<UINT32>(Rest);
        High = static_cast<UINT32>(Rest >> 32);
      }
      UINTN Written = 0;
      do {
        UINT32 Value;
        if (Hex) {
          Value = Piece & 0xF;
          Piece >>= 4;
        } else {
          if (Grouped == 3) {
            *--Digit = ',';
            Grouped = 0;
          }
          ++Grouped;
          Value = Piece % 10;
          Piece /= 10;
        }
        *--Digit = HexDigits[Value];
      } while (++Written < Digits || Piece != 0);
    } while (!Final);
  }
  Out.Text = Bytes(Digit);
  Out.Limit = static_cast<UINTN>(Last - Digit);
  Out.Count = Out.Limit;
  Out.Number = true;
  if (Out.Sign != 0) {
    ++Out.Count;
    // A precision run saturated at 0xFFFFFFFF stays the largest rather than wrapping to 0.
    if (Spec.Precision != MaxCount) {
      ++Spec.Precision;
    }
  }
  if ((Spec.Flags & (ZeroFill | AlignLeft | WidthGiven | PrecisionGiven)) == (ZeroFill | WidthGiven)) {
    Spec.Precision = Spec.Width;
  }
}

// Chooses the text for a conversion character, or for a line end outside
// "%"; a line end may consume the next format character. One-character texts
// are CHAR16 texts in the scratch text.
void ConvertElement(ElementText& Out, Specification& Spec, UINT32 Conversion, const UINT8*& Format, UINTN Step,
                    ArgSlots& Arguments, CHAR8* Scratch) {
  if (Conversion == 'd' || Conversion == 'u' || Conversion == 'x' || Conversion == 'X' || Conversion == 'p') {
    if (Conversion == 'p') {
      Spec.Flags &= ~(ShowPlus | ShowSpace | Value64);
    }
    if (Conversion == 'p' || Conversion == 'X') {
      Spec.Flags |= ZeroFill;
    }
    if (Conversion != 'd' && Conversion != 'u') {
      Spec.Flags |= Base16;
    }
    if (Conversion == 'u') {
      Spec.Flags &= ~ShowPlus;
      Spec.Flags |= TreatUnsigned;
    }
    NumberText(Out, Spec, Arguments, Scratch);
    return;
  }
  if (Conversion == 'a' || Conversion == 's' || Conversion == 'S') {
    Out.Text = Arguments.TakePointer();
    Out.Step = Conversion == 'a' ? 1 : 2;
    if (Out.Text == nullptr) {
      Out.Text = Bytes("<null string>");
      Out.Step = 1;
    }
    if ((Spec.Flags & PrecisionGiven) == 0) {
      Spec.Precision = 0;
    }
    return;
  }
  if (Conversion == 'g' || Conversion == 't') {
    const UINT8* Record = Arguments.TakePointer();
    if (Record == nullptr) {
      Out.Text = Bytes(Conversion == 'g' ? "<null guid>" : "<null time>");
    } else {
      Out.Text = Bytes(Conversion == 'g' ? GuidText(Record, Scratch) : TimeText(Record, Scratch));
    }
    return;
  }
  if (Conversion == 'r') {
    Out.Text = Bytes(StatusText(Arguments.Take32(), Scratch));
    return;
  }
  // Serial terminals need both line-end characters; either order in the
  // format, or a line feed alone, becomes one "\r\n".
  const UINT32 Next = ReadCharacter(Format + Step, Step);
  if (Conversion == '\n') {
    Out.Text = Bytes("\r\n");
    if (Next == '\r') {
      Format += Step;
    }
    return;
  }
  if (Conversion == '\r') {
    Out.Text = Bytes("\r");
    if (Next == '\n') {
      Out.Text = Bytes("\r\n");
      Format += Step;
    }
    return;
  }
  // "%c", "%%", an unknown character, or the end of the format (an empty text).
  if (Conversion == 'c') {
    Conversion = Arguments.Take32();
  }
  Scratch[0] = static_cast<CHAR8>(Conversion);
  Scratch[1] = static_cast<CHAR8>(Conversion >> 8);
  Scratch[2] = 0;
  Scratch[3] = 0;
  Out.Text = Bytes(Scratch);
  Out.Step = 2;
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
                   const UINT32* SecondList) {
  const bool Measuring = (Flags & MeasureOnly) != 0;
  if (Measuring) {
    if (BufferSize == 0) {
      Buffer = nullptr;
    }
  } else {
    if (BufferSize == 0) {
      return 0;
    }
    Check(Buffer != nullptr, PrintLibSites::BufferPresent);
    // Nothing can be written through a null buffer, not even the terminator.
    if (Buffer == nullptr) {
      return 0;
    }
  }

  const UINTN SizeShift = (Flags & WideOutput) != 0 ? 1 : 0;
  auto* const Start = static_cast<UINT8*>(Buffer);
  UINT8* End = Start;
  if (Start != nullptr) {
    // A size reaching past the end of the address space is cut there, so
    // that the end bound cannot wrap below the start.
    const UINTN Fits = (0u - reinterpret_cast<UINTN>(Start)) >> SizeShift;
    if (BufferSize > Fits) {
      BufferSize = Fits;
      if (BufferSize == 0) {
        return 0;
      }
    }
    // Integer arithmetic: the bound may lie far beyond the caller's object.
    End = reinterpret_cast<UINT8*>(reinterpret_cast<UINTN>(Start) + ((BufferSize - 1) << SizeShift));
  }

  const UINTN Step = (Flags & WideFormat) != 0 ? 2 : 1;
  if constexpr (AssertChecksEnabled()) {
    if (Step == 2) {
      Check(StrSize(static_cast<const CHAR16*>(Format)) != 0, PrintLibSites::WideFormatSize);
    } else if (Settings::PcdMaximumAsciiStringLength != 0 || Format == nullptr) {
      // Without a length limit a walk over a present format cannot report,
      // so only a missing one is walked (and reported).
      Check(AsciiStrSize(static_cast<const CHAR8*>(Format)) != 0, PrintLibSites::AsciiFormatSize);
    }
  }
  // A missing format has been reported; it prints as an empty one.
  static constexpr UINT8 EmptyFormat[2] = {0, 0};
  const UINT8* At = Format != nullptr ? static_cast<const UINT8*>(Format) : EmptyFormat;

  // Nothing is stored when measuring or without a buffer; a measured buffer
  // of one character takes no element at all.
  const bool Storing = Start != nullptr && !Measuring;
  OutputWriter Out(Start, Storing ? End : Start, SizeShift != 0);
  UINT64 Counted = 0;
  ArgSlots Arguments(SecondList != nullptr ? SecondList : ArgumentList);
  CHAR8 Scratch[ScratchTextLength];

  for (bool Open = Start == nullptr || Start < End; Open;) {
    const UINT32 Character = ReadCharacter(At, Step);
    if (Character == 0) {
      break;
    }
    // The options word is cut back to the caller's bits at every element.
    Specification Spec = {Flags & CallerBits, 0, 1};
    ElementText Text = {At, Step, 0, MaxCount, 0, false, !StartsElement(Character)};
    if (Text.Run) {
      // Plain characters are elements of one character each, with nothing to
      // pad: a run of them is taken at once.
      Spec.Precision = 0;
    } else {
      Text.Step = 1;
      const UINT32 Conversion = Character == '%' ? ParseSpecification(Spec, At, Step, Arguments) : Character;
      ConvertElement(Text, Spec, Conversion, At, Step, Arguments, Scratch);
      At += Step;
    }

    if (!Text.Number) {
      // A precision limits the characters taken. The rest of the text counts
      // only for MeasureOnly and for padding, and padding needs no count
      // beyond the width and the precision.
      if ((Spec.Flags & PrecisionGiven) != 0) {
        Text.Limit = Spec.Precision;
      }
      UINTN Needed = Text.Limit;
      if (Storing) {
        const UINTN Padded = Spec.Width > Spec.Precision ? Spec.Width : Spec.Precision;
        Needed = Padded < Needed ? Padded : Needed;
      }
      Text.Count = TextLength(Text.Text, Text.Step, Needed, Text.Run);
    }
    if (Spec.Precision < Text.Count) {
      Spec.Precision = Text.Count;
    }
    const bool Padded = (Spec.Flags & WidthGiven) != 0 && Spec.Width > Spec.Precision;
    const UINTN Padding = Padded ? Spec.Width - Spec.Precision : 0;
    // The precision covers sign, leading zeros or blanks, and the text.
    if (!Storing) {
      Counted += static_cast<UINT64>(Padding) + Spec.Precision;
      if (Text.Run) {
        At += Text.Count * Step;
      }
      continue;
    }
    const bool Left = (Spec.Flags & AlignLeft) != 0;
    if (!Left) {
      Out.Fill(Padding, ' ');
    }
    if (Text.Sign != 0) {
      Out.Fill(1, Text.Sign);
    }
    Out.Fill(Spec.Precision - Text.Count, Text.Number ? '0' : ' ');
    const UINTN Copied = Out.Copy(Text.Text, Text.Step, Text.Limit, Text.Run);
    if (Left) {
      Out.Fill(Padding, ' ');
    }
    // No further element starts once the end bound is reached.
    if (!Out.Room()) {
      break;
    }
    if (Text.Run) {
      At += Copied * Step;
    }
  }

  if (Measuring) {
    return Counted > MaxCount ? MaxCount : static_cast<UINTN>(Counted);
  }

  // The buffer is present here (a missing one returned at the start), and End
  // is one character short of its end, so the terminator fits.
  UINT8* const Terminator = Out.At();
  Terminator[0] = 0;
  if (SizeShift != 0) {
    Terminator[1] = 0;
  }
  if constexpr (AssertChecksEnabled()) {
    if (SizeShift != 0) {
      Check(StrSize(reinterpret_cast<const CHAR16*>(Start)) != 0, PrintLibSites::WideResultSize);
    } else if constexpr (Settings::PcdMaximumAsciiStringLength != 0) {
      Check(AsciiStrSize(reinterpret_cast<const CHAR8*>(Start)) != 0, PrintLibSites::AsciiResultSize);
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
  const UINTN Length = AsciiFormatList(Buffer, BufferSize, Format, Arguments);
  va_end(Arguments);
  return Length;
}
