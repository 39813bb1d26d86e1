// The texts the engine makes for "%g", "%t" and "%r": a status name, or a
// fixed layout of digits written straight into the scratch text. Included by
// the engine alone, which takes it inline.
#pragma once

#include "DigitText.h"
#include "Library/BaseLib.h"
#include "PrintLibInternal.h"

namespace RecordTexts {
// The layouts as formats: the texts below print exactly what these would.
// Builds with a narrow length limit walk them, as a call of the engine on
// them would, so that such builds report the same.
constexpr const CHAR8* GuidLayout = "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x";
constexpr const CHAR8* TimeLayout = "%02d/%02d/%04d  %02d:%02d";
constexpr const CHAR8* StatusLayout = "%08X";

// The same layouts as byte programs: a byte below 0x80 is itself, any other
// a field: the record's little-endian value of 1 << ((Code >> 4) & 3) bytes
// at offset Code & 0xF, with two digits per byte at least. Byte reads, since
// a record may sit at any alignment.
constexpr UINT8 Field(UINTN Offset, UINTN SizeShift) { return static_cast<UINT8>(0x80 | SizeShift << 4 | Offset); }
constexpr UINT8 GuidFields[] = {Field(0, 2), '-',         Field(4, 1),  '-',         Field(6, 1),
                                '-',         Field(8, 0), Field(9, 0),  '-',         Field(10, 0),
                                Field(11, 0), Field(12, 0), Field(13, 0), Field(14, 0), Field(15, 0)};
constexpr UINT8 TimeFields[] = {Field(2, 0), '/', Field(3, 0), '/', Field(0, 1), ' ', ' ', Field(4, 0), ':', Field(5, 0)};
constexpr UINT8 StatusFields[] = {Field(0, 2)};

// Without a limit a walk over a present text cannot report, so it is left
// out; the size checks around such walks can never fail.
inline void WalkAsFormatted(const CHAR8* Layout, const CHAR8* Text) {
  if constexpr (AssertChecksEnabled() && Settings::PcdMaximumAsciiStringLength != 0) {
    AsciiStrSize(Layout);
    AsciiStrSize(Text);
  }
}

// The byte text of "%g", "%t" or "%r" (Conversion) for its argument: a
// placeholder for a null record, a status name, or digits made in Scratch
// (ScratchTextLength characters).
inline const CHAR8* RecordText(UINTN Conversion, UINT32 Value, CHAR8* Scratch) {
  const UINT8* Record = reinterpret_cast<const UINT8*>(static_cast<UINTN>(Value));
  const UINT8* Program = GuidFields;
  UINTN Length = sizeof(GuidFields);
  const CHAR8* Layout = GuidLayout;
  if (Conversion == 'r') {
    if (EFI_ERROR(Value)) {
      const UINTN Number = Value & ~MAX_BIT;
      if (Number >= 1 && Number <= StatusErrorCount) {
        return StatusName(StatusWarningCount - 1 + Number);
      }
    } else if (Value < StatusWarningCount) {
      return StatusName(Value);
    }
    // Any other status prints its 32-bit pattern.
    Record = reinterpret_cast<const UINT8*>(&Value);
    Program = StatusFields;
    Length = sizeof(StatusFields);
    Layout = StatusLayout;
  } else if (Record == nullptr) {
    return Conversion == 't' ? "<null time>" : "<null guid>";
  } else if (Conversion == 't') {
    Program = TimeFields;
    Length = sizeof(TimeFields);
    Layout = TimeLayout;
  }
  // Written backwards from the end of the scratch text, last field first,
  // since a decimal field may be wider than its least width.
  CHAR8* At = Scratch + ScratchTextLength - 1;
  *At = 0;
  while (Length-- != 0) {
    const UINT8 Code = Program[Length];
    if (Code < 0x80) {
      *--At = static_cast<CHAR8>(Code);
      continue;
    }
    const UINTN Size = 1u << ((Code >> 4) & 3);
    UINT32 Field = 0;
    for (UINTN Index = Size; Index-- != 0;) {
      Field = Field << 8 | Record[(Code & 0xF) + Index];
    }
    At = PutDigits(At, Field, 0, Conversion != 't', 2 * Size, NoGroups);
  }
  WalkAsFormatted(Layout, At);
  return At;
}
}  // namespace RecordTexts
