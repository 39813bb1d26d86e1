// The format engine as it was before its rewrite (main loop, measuring,
// padding, bounded writing, front ends), for comparisons only. One reading has
// changed since, in both: a width or precision of 2^31 or more is not given.
#include "PrintLibBefore.h"
#include "Library/BaseLib.h"

namespace PrintLibBefore {
namespace {
constexpr UINTN MaxCount = 0xFFFFFFFF;
constexpr INTN MaxFillStep = 0x7FFFFFFF;

// Owns the output bound: characters are stored only below End, which leaves
// one character for the terminator, and never split. When nothing is stored
// (MeasureOnly, or no buffer) it only counts.
class OutputWriter {
public:
  OutputWriter(UINT8* Start, UINT8* End, UINTN CharacterSize, bool Storing)
      : Position(Start), End(End), CharacterSize(CharacterSize), Storing(Storing) {}

  bool Room() const { return Position < End; }
  UINT8* At() const { return Position; }
  UINT64 Counted() const { return Total; }

  // Counts arithmetically and writes no more than fits, so a huge count costs
  // nothing when measuring and at most the buffer when writing.
  void Fill(UINTN Count, UINT16 Character) {
    if (!Storing) {
      Total += Count;
      return;
    }
    while (Count != 0 && Room()) {
      const INTN Step = Count > static_cast<UINTN>(MaxFillStep) ? MaxFillStep : static_cast<INTN>(Count);
      Position = FillChars(Position, End, Step, Character, CharacterSize);
      Count -= static_cast<UINTN>(Step);
    }
  }
  // End lies a whole number of characters after the start, so a character
  // that starts below it fits.
  void Put(UINT16 Character) {
    if (Storing && Room()) {
      *Position++ = static_cast<UINT8>(Character);
      if (CharacterSize == 2) {
        *Position++ = static_cast<UINT8>(Character >> 8);
      }
    }
  }
  // Count characters of a text read forwards; byte text into byte output is
  // a plain bounded copy.
  void PutText(const UINT8* Text, UINTN Count, bool Wide) {
    if (!Storing) {
      return;
    }
    if (!Wide && CharacterSize == 1) {
      const UINTN Room = static_cast<UINTN>(End - Position);
      const UINTN Copied = Count < Room ? Count : Room;
      for (UINTN Index = 0; Index < Copied; ++Index) {
        Position[Index] = Text[Index];
      }
      Position += Copied;
      return;
    }
    const UINTN Step = Wide ? 2 : 1;
    for (; Count != 0 && Room(); --Count, Text += Step) {
      Put(Wide ? static_cast<UINT16>(Text[0] | (Text[1] << 8)) : Text[0]);
    }
  }
  // Counting without storing: the element's length is known from its sizes.
  bool CountsOnly() const { return !Storing; }
  void Count(UINT64 Characters) { Total += Characters; }

private:
  UINT8* Position;
  UINT8* End;
  UINTN CharacterSize;
  bool Storing;
  UINT64 Total = 0;
};

UINT16 ReadTextCharacter(const UINT8* Text, bool Wide) {
  return Wide ? static_cast<UINT16>(Text[0] | (Text[1] << 8)) : Text[0];
}

// A number before any "." is the width, after it the precision. A value that
// reads as negative in 32 bits is not given: a width is dropped at once, a
// precision once the element ends, unless a later one replaces it.
void SetWidthOrPrecision(Element& Item, UINTN Value, bool& PrecisionDropped) {
  const bool Negative = Value > 0x7FFFFFFF;
  if ((Item.Flags & PrintFlags::PrecisionGiven) == 0) {
    if (Negative) {
      Item.Flags &= ~PrintFlags::WidthGiven;
      Item.Width = 0;
    } else {
      Item.Flags |= PrintFlags::WidthGiven;
      Item.Width = Value;
    }
  } else {
    Item.Precision = Value;
    PrecisionDropped = Negative;
  }
}

// Parses flags, width and precision after "%" and returns the conversion
// character; the cursor is left on it (on the last character for an early end).
UINT16 ParseElement(Element& Item, FormatCursor& Format, ArgSlots& Arguments) {
  using namespace PrintFlags;
  bool PrecisionDropped = false;
  for (;;) {
    Format.Advance();
    UINT16 Character = Format.Current();
    switch (Character) {
      case ' ':
        Item.Flags |= ShowSpace;
        break;
      case '+':
        Item.Flags |= ShowPlus;
        break;
      case '-':
        Item.Flags |= AlignLeft;
        break;
      case ',':
        Item.Flags |= GroupThousands;
        break;
      case '.':
        Item.Flags |= PrecisionGiven;
        break;
      case 'l':
      case 'L':
        Item.Flags |= Value64;
        break;
      case '*':
        SetWidthOrPrecision(Item, Arguments.Take32(), PrecisionDropped);
        break;
      case '0':
        if ((Item.Flags & PrecisionGiven) == 0) {
          Item.Flags |= ZeroFill;
        }
        [[fallthrough]];
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9': {
        // A run too long for 32 bits saturates rather than wrapping to a small width.
        UINTN Value = 0;
        for (; Character >= '0' && Character <= '9'; Format.Advance(), Character = Format.Current()) {
          const UINTN Digit = Character - '0';
          Value = Value > (MaxCount - Digit) / 10 ? MaxCount : Value * 10 + Digit;
        }
        Format.Back();
        SetWidthOrPrecision(Item, Value, PrecisionDropped);
        break;
      }
      case 0:
        // The format ends inside a "%" element: stay on the character
        // before the end so that the main loop stops after this element.
        Item.Precision = 0;
        Format.Back();
        return 0;
      default:
        if (PrecisionDropped) {
          Item.Flags &= ~PrecisionGiven;
          Item.Precision = 1;
        }
        return Character;
    }
  }
}

// Counts the characters of a text before its terminator, never reading past a
// given precision (the text may end there without a terminator).
void MeasureText(Element& Item) {
  using namespace PrintFlags;
  if ((Item.Flags & DigitsReversed) == 0) {
    const bool Wide = (Item.Flags & ArgWide) != 0;
    const bool Limited = (Item.Flags & PrecisionGiven) != 0;
    const UINTN Step = Wide ? 2 : 1;
    UINTN Count = 0;
    for (const UINT8* Text = Item.Text; (!Limited || Count < Item.Precision) && ReadTextCharacter(Text, Wide) != 0;
         Text += Step) {
      ++Count;
    }
    Item.Count = Count;
  }
  if (Item.Precision < Item.Count) {
    Item.Precision = Item.Count;
  }
}

void WriteElement(const Element& Item, OutputWriter& Out) {
  using namespace PrintFlags;
  const bool Padded = (Item.Flags & WidthGiven) != 0 && Item.Width > Item.Precision;
  const UINTN Padding = Padded ? Item.Width - Item.Precision : 0;
  const bool Left = (Item.Flags & AlignLeft) != 0;
  // The precision covers sign, leading zeros or blanks, and the text.
  if (Out.CountsOnly()) {
    Out.Count(static_cast<UINT64>(Padding) + Item.Precision);
    return;
  }
  if (!Left) {
    Out.Fill(Padding, ' ');
  }
  const bool Number = (Item.Flags & DigitsReversed) != 0;
  if (Number) {
    if (Item.Sign != 0) {
      Out.Put(Item.Sign);
    }
    Out.Fill(Item.Precision - Item.Count, '0');
  } else {
    Out.Fill(Item.Precision - Item.Count, ' ');
  }
  const bool Wide = (Item.Flags & ArgWide) != 0;
  if (!Number) {
    Out.PutText(Item.Text, Item.Count, Wide);
    if (Left) {
      Out.Fill(Padding, ' ');
    }
    return;
  }
  const INTN Step = -1;
  const UINT8* Text = Item.Text;
  UINTN GroupCounter = Item.GroupCounter;
  for (UINTN Index = Item.Sign != 0 ? 1 : 0; Index < Item.Count && Out.Room(); ++Index) {
    Out.Put(ReadTextCharacter(Text, Wide));
    Text += Step;
    if (Item.Group && ++GroupCounter == 3) {
      GroupCounter = 0;
      ++Index;
      if (Index < Item.Count) {
        Out.Put(',');
      }
    }
  }
  if (Left) {
    Out.Fill(Padding, ' ');
  }
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
  static constexpr CHAR8 DigitTable[] = "0123456789ABCDEF";
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
    *++Position = DigitTable[Remainder & 0x0F];
  } while (Value != 0);
  return Position;
}

UINTN FormatEngine(VOID* Buffer, UINTN BufferSize, UINTN Flags, const VOID* Format, const UINT32* ArgumentList,
                   const UINT32* OverrideList) {
  using namespace PrintFlags;
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
  const UINTN CharacterSize = UINTN{1} << SizeShift;
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

  const bool WideFormatText = (Flags & WideFormat) != 0;
  if constexpr (AssertChecksEnabled()) {
    if (WideFormatText) {
      Check(StrSize(static_cast<const CHAR16*>(Format)) != 0, PrintLibSites::WideFormatSize);
    } else {
      Check(AsciiStrSize(static_cast<const CHAR8*>(Format)) != 0, PrintLibSites::AsciiFormatSize);
    }
  }
  // A missing format has been reported; it prints as an empty one.
  static constexpr UINT8 EmptyFormat[2] = {0, 0};
  const auto* FormatText = Format != nullptr ? static_cast<const UINT8*>(Format) : EmptyFormat;

  FormatCursor Cursor(FormatText, WideFormatText ? 2 : 1);
  ArgSlots Arguments(OverrideList != nullptr ? OverrideList : ArgumentList);
  OutputWriter Out(Start, End, CharacterSize, Start != nullptr && !Measuring);
  CHAR8 ScratchText[ScratchTextLength];

  for (UINT16 Character = Cursor.Current(); Character != 0 && (Start == nullptr || Out.Room());
       Cursor.Advance(), Character = Cursor.Current()) {
    // Field by field: a zeroed aggregate would become a memset call.
    Element Item;
    Item.Flags = Flags & CallerBits;
    Item.Width = 0;
    Item.Precision = 1;
    Item.Sign = 0;
    Item.Group = false;
    Item.Count = 0;
    Item.GroupCounter = 0;
    Item.Text = nullptr;
    // A plain character is an element of its own with nothing to pad.
    if (Character != '%' && Character != '\n' && Character != '\r') {
      if (Out.CountsOnly()) {
        Out.Count(1);
      } else {
        Out.Put(Character);
      }
      continue;
    }
    if (Character == '%') {
      const UINT16 Conversion = ParseElement(Item, Cursor, Arguments);
      ConvertElement(Item, Conversion, Cursor, Arguments, ScratchText);
    } else {
      LiteralElement(Item, Character, Cursor);
    }
    MeasureText(Item);
    WriteElement(Item, Out);
  }

  if (Measuring) {
    const UINT64 Total = Out.Counted();
    return Total > MaxCount ? MaxCount : static_cast<UINTN>(Total);
  }

  Check(Buffer != nullptr, PrintLibSites::BufferPresentAtEnd);
  // End is one character short of the buffer's end, so the terminator fits.
  UINT8* const Terminator = Out.At();
  Terminator[0] = 0;
  if (SizeShift != 0) {
    Terminator[1] = 0;
  }
  if constexpr (AssertChecksEnabled()) {
    if ((Flags & WideOutput) != 0) {
      Check(StrSize(reinterpret_cast<const CHAR16*>(Start)) != 0, PrintLibSites::WideResultSize);
    } else {
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
}  // namespace PrintLibBefore
