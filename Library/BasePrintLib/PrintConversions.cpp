// The texts the engine makes for "%g", "%t" and "%r": fixed layouts of
// digits, written straight into the scratch text.
#include "Library/BaseLib.h"
#include "PrintLibInternal.h"

namespace {
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

// Without a limit a walk over a present text cannot report, so it is left
// out; the size checks around such walks can never fail.
void WalkAsFormatted(const CHAR8* Layout, const CHAR8* Text) {
  if constexpr (AssertChecksEnabled() && Settings::PcdMaximumAsciiStringLength != 0) {
    AsciiStrSize(Layout);
    AsciiStrSize(Text);
  }
}

// Written backwards from the end of the scratch text, last field first,
// since a decimal field may be wider than its least width.
const CHAR8* FieldsText(const UINT8* Record, const UINT8* Program, UINTN Length, bool Hex, CHAR8* Scratch) {
  CHAR8* At = Scratch + ScratchTextLength - 1;
  *At = 0;
  while (Length-- != 0) {
    const UINT8 Code = Program[Length];
    if (Code < 0x80) {
      *--At = static_cast<CHAR8>(Code);
      continue;
    }
    const UINTN Size = 1u << ((Code >> 4) & 3);
    UINT32 Value = 0;
    for (UINTN Index = Size; Index-- != 0;) {
      Value = Value << 8 | Record[(Code & 0xF) + Index];
    }
    At = PutDigits(At, Value, Hex, 2 * Size);
  }
  return At;
}
}  // namespace

const CHAR8* GuidText(const UINT8* Guid, CHAR8* Scratch) {
  const CHAR8* Text = FieldsText(Guid, GuidFields, sizeof(GuidFields), true, Scratch);
  WalkAsFormatted(GuidLayout, Text);
  return Text;
}

const CHAR8* TimeText(const UINT8* Time, CHAR8* Scratch) {
  const CHAR8* Text = FieldsText(Time, TimeFields, sizeof(TimeFields), false, Scratch);
  WalkAsFormatted(TimeLayout, Text);
  return Text;
}

const CHAR8* StatusText(EFI_STATUS Status, CHAR8* Scratch) {
  if (EFI_ERROR(Status)) {
    const UINTN Number = Status & ~MAX_BIT;
    if (Number >= 1 && Number <= StatusErrorCount) {
      return StatusName(StatusWarningCount - 1 + Number);
    }
  } else if (Status < StatusWarningCount) {
    return StatusName(Status);
  }
  CHAR8* const Last = Scratch + ScratchTextLength - 1;
  *Last = 0;
  const CHAR8* Text = PutDigits(Last, Status, true, 8);
  WalkAsFormatted(StatusLayout, Text);
  return Text;
}
