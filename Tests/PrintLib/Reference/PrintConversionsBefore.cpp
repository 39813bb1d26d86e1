// The conversion characters as they were before the engine's rewrite, for
// comparisons only.
#include "Library/BaseLib.h"
#include "PrintLibBefore.h"

namespace PrintLibBefore {
namespace {
using namespace PrintFlags;

const UINT8* Bytes(const CHAR8* Text) { return reinterpret_cast<const UINT8*>(Text); }

// Numbers: the digits go into the scratch text and are read backwards.
void NumberElement(Element& Item, ArgSlots& Arguments, CHAR8* Scratch) {
  UINT64 Value = (Item.Flags & Value64) != 0 ? Arguments.Take64()
                                              : static_cast<UINT64>(static_cast<INT64>(static_cast<INT32>(Arguments.Take32())));
  if ((Item.Flags & ShowSpace) != 0) {
    Item.Sign = ' ';
  }
  if ((Item.Flags & ShowPlus) != 0) {
    Item.Sign = '+';
  }
  const bool Negative = static_cast<INT64>(Value) < 0;
  UINTN Radix;
  if ((Item.Flags & Base16) != 0) {
    Radix = 16;
    // A 32-bit value prints as the unsigned pattern it was passed as.
    if ((Item.Flags & Value64) == 0 && Negative) {
      Value = static_cast<UINT32>(Value);
    }
  } else {
    Radix = 10;
    Item.Group = (Item.Flags & GroupThousands) != 0;
    if (Item.Group) {
      Item.Precision = 1;
      Item.Flags &= ~ZeroFill;
    }
    if (Negative && (Item.Flags & TreatUnsigned) == 0) {
      Item.Sign = '-';
      Value = 0 - Value;
    } else if ((Item.Flags & TreatUnsigned) != 0 && (Item.Flags & Value64) == 0) {
      Value = static_cast<UINT32>(Value);
    }
  }
  const CHAR8* MostSignificant = ValueToDigits(Scratch, Value, Radix);
  UINTN Count = static_cast<UINTN>(MostSignificant - Scratch);
  if (Value == 0 && Item.Precision == 0) {
    Count = 0;
  }
  Item.Text = Bytes(MostSignificant);
  Item.Flags |= DigitsReversed;
  if (Item.Group) {
    Item.GroupCounter = (3 - Count % 3) % 3;
    if (Count != 0) {
      Count += (Count - 1) / 3;
    }
  }
  if (Item.Sign != 0) {
    ++Count;
    // A precision of 0xFFFFFFFF from "*" stays the largest rather than wrapping to 0.
    if (Item.Precision != 0xFFFFFFFF) {
      ++Item.Precision;
    }
  }
  Item.Count = Count;
  if ((Item.Flags & (ZeroFill | AlignLeft | WidthGiven | PrecisionGiven)) == (ZeroFill | WidthGiven)) {
    Item.Precision = Item.Width;
  }
}

// One 16-bit character and its terminator, as a CHAR16 text.
void CharacterElement(Element& Item, UINT16 Character) {
  Item.OneCharacter[0] = static_cast<UINT8>(Character);
  Item.OneCharacter[1] = static_cast<UINT8>(Character >> 8);
  Item.OneCharacter[2] = 0;
  Item.OneCharacter[3] = 0;
  Item.Text = Item.OneCharacter;
  Item.Flags |= ArgWide;
}

void StringElement(Element& Item, ArgSlots& Arguments) {
  Item.Text = Arguments.TakePointer();
  if (Item.Text == nullptr) {
    Item.Text = Bytes("<null string>");
    Item.Flags &= ~ArgWide;
  }
  if ((Item.Flags & PrecisionGiven) == 0) {
    Item.Precision = 0;
  }
}

void GuidElement(Element& Item, ArgSlots& Arguments, CHAR8* Scratch) {
  const UINT8* Guid = Arguments.TakePointer();
  if (Guid == nullptr) {
    Item.Text = Bytes("<null guid>");
    return;
  }
  FormatToBuffer(Scratch, ScratchTextLength, 0, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                 LoadUnaligned32(Guid), LoadUnaligned16(Guid + 4), LoadUnaligned16(Guid + 6), Guid[8], Guid[9],
                 Guid[10], Guid[11], Guid[12], Guid[13], Guid[14], Guid[15]);
  Item.Text = Bytes(Scratch);
}

void TimeElement(Element& Item, ArgSlots& Arguments, CHAR8* Scratch) {
  const UINT8* Time = Arguments.TakePointer();
  if (Time == nullptr) {
    Item.Text = Bytes("<null time>");
    return;
  }
  // Byte reads: the record may sit at any alignment.
  const UINT32 Year = Time[0] | (Time[1] << 8);
  const UINT32 Month = Time[2];
  const UINT32 Day = Time[3];
  const UINT32 Hour = Time[4];
  const UINT32 Minute = Time[5];
  FormatToBuffer(Scratch, ScratchTextLength, 0, "%02d/%02d/%04d  %02d:%02d", Month, Day, Year, Hour, Minute);
  Item.Text = Bytes(Scratch);
}

void StatusElement(Element& Item, ArgSlots& Arguments, CHAR8* Scratch) {
  const EFI_STATUS Status = Arguments.Take32();
  const CHAR8* Name = nullptr;
  if (EFI_ERROR(Status)) {
    const UINTN Number = Status & ~MAX_BIT;
    if (Number >= 1 && Number <= StatusErrorCount) {
      Name = StatusTextTable[StatusWarningCount - 1 + Number];
    }
  } else if (Status < StatusWarningCount) {
    Name = StatusTextTable[Status];
  }
  if (Name == nullptr) {
    FormatToBuffer(Scratch, ScratchTextLength, 0, "%08X", Status);
    Name = Scratch;
  }
  Item.Text = Bytes(Name);
}
}  // namespace

void LiteralElement(Element& Item, UINT16 Character, FormatCursor& Format) {
  // Serial terminals need both line-end characters; either order in the
  // format, or a line feed alone, becomes one "\r\n".
  if (Character == '\n') {
    Item.Text = Bytes("\r\n");
    Format.Advance();
    if (Format.Current() != '\r') {
      Format.Back();
    }
    return;
  }
  if (Character == '\r') {
    Format.Advance();
    if (Format.Current() == '\n') {
      Item.Text = Bytes("\r\n");
    } else {
      Format.Back();
      Item.Text = Bytes("\r");
    }
    return;
  }
  // Any other character is copied whole as a one-character CHAR16 text.
  CharacterElement(Item, Character);
}

void ConvertElement(Element& Item, UINT16 Conversion, FormatCursor& Format, ArgSlots& Arguments, CHAR8* Scratch) {
  switch (Conversion) {
    case 'p':
      Item.Flags &= ~(ShowPlus | ShowSpace | Value64 | ZeroFill);
      Item.Flags |= ZeroFill | Base16;
      NumberElement(Item, Arguments, Scratch);
      return;
    case 'X':
      Item.Flags |= ZeroFill | Base16;
      NumberElement(Item, Arguments, Scratch);
      return;
    case 'x':
      Item.Flags |= Base16;
      NumberElement(Item, Arguments, Scratch);
      return;
    case 'u':
      Item.Flags &= ~ShowPlus;
      Item.Flags |= TreatUnsigned;
      NumberElement(Item, Arguments, Scratch);
      return;
    case 'd':
      NumberElement(Item, Arguments, Scratch);
      return;
    case 's':
    case 'S':
      Item.Flags |= ArgWide;
      StringElement(Item, Arguments);
      return;
    case 'a':
      StringElement(Item, Arguments);
      return;
    case 'c':
      CharacterElement(Item, static_cast<UINT16>(Arguments.Take32()));
      return;
    case 'g':
      GuidElement(Item, Arguments, Scratch);
      return;
    case 't':
      TimeElement(Item, Arguments, Scratch);
      return;
    case 'r':
      StatusElement(Item, Arguments, Scratch);
      return;
    default:
      // "%%", an unknown character, or the end of the format (an empty text).
      LiteralElement(Item, Conversion, Format);
      return;
  }
}
}  // namespace PrintLibBefore
