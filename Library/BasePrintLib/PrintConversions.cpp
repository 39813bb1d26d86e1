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

// Without a limit a walk over a present text cannot report, so it is left
// out; the size checks around such walks can never fail.
void WalkAsFormatted(const CHAR8* Layout, const CHAR8* Text) {
  if constexpr (AssertChecksEnabled() && Settings::PcdMaximumAsciiStringLength != 0) {
    AsciiStrSize(Layout);
    AsciiStrSize(Text);
  }
}
}  // namespace

const CHAR8* GuidText(const UINT8* Guid, CHAR8* Scratch) {
  // The 32-bit and the two 16-bit fields are little-endian, so their digits
  // come from their bytes high to low; the eight bytes after them print in order.
  static constexpr UINT8 ByteOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  CHAR8* At = Scratch;
  for (UINTN Index = 0; Index < 16; ++Index) {
    if (Index == 4 || Index == 6 || Index == 8 || Index == 10) {
      *At++ = '-';
    }
    At += 2;
    PutDigits(At, Guid[ByteOrder[Index]], true, 2);
  }
  *At = 0;
  WalkAsFormatted(GuidLayout, Scratch);
  return Scratch;
}

const CHAR8* TimeText(const UINT8* Time, CHAR8* Scratch) {
  // Written backwards from the end, minute first, since a field may be wider
  // than its least width; byte reads, since the record may sit at any alignment.
  static constexpr UINT8 FieldOffset[] = {5, 4, 0, 3, 2};  // minute, hour, year, day, month
  static constexpr CHAR8 Separator[] = ": //";
  CHAR8* At = Scratch + ScratchTextLength - 1;
  *At = 0;
  for (UINTN Field = 0; Field < sizeof(FieldOffset); ++Field) {
    const UINT8* Bytes = Time + FieldOffset[Field];
    const bool Year = Field == 2;
    At = PutDigits(At, Year ? Bytes[0] | (Bytes[1] << 8) : Bytes[0], false, Year ? 4 : 2);
    if (Field == 1) {
      *--At = ' ';
    }
    if (Field < 4) {
      *--At = Separator[Field];
    }
  }
  WalkAsFormatted(TimeLayout, At);
  return At;
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
  Scratch[8] = 0;
  PutDigits(Scratch + 8, Status, true, 8);
  WalkAsFormatted(StatusLayout, Scratch);
  return Scratch;
}
