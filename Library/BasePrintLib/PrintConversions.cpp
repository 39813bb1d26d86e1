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

// Without a limit a walk over a present text cannot report, so it is left out.
void WalkAsFormatted(const CHAR8* Layout, const CHAR8* Text) {
  if constexpr (AssertChecksEnabled() && Settings::PcdMaximumAsciiStringLength != 0) {
    Check(AsciiStrSize(Layout) != 0, PrintLibSites::AsciiFormatSize);
    Check(AsciiStrSize(Text) != 0, PrintLibSites::AsciiResultSize);
  }
}

// Exactly Digits hexadecimal digits of Value, most significant first.
[[gnu::noinline]] CHAR8* PutHex(CHAR8* At, UINT32 Value, UINTN Digits) {
  for (UINTN Index = Digits; Index != 0; --Index) {
    At[Index - 1] = HexDigits[Value & 0xF];
    Value >>= 4;
  }
  return At + Digits;
}

// At least Digits decimal digits of Value, zeros in front.
[[gnu::noinline]] CHAR8* PutDecimal(CHAR8* At, UINT32 Value, UINTN Digits) {
  UINTN Length = 1;
  for (UINT32 Rest = Value; Rest >= 10; Rest /= 10) {
    ++Length;
  }
  CHAR8* const End = At + (Length > Digits ? Length : Digits);
  for (CHAR8* Digit = End; Digit != At; Value /= 10) {
    *--Digit = static_cast<CHAR8>('0' + Value % 10);
  }
  return End;
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
    At = PutHex(At, Guid[ByteOrder[Index]], 2);
  }
  *At = 0;
  WalkAsFormatted(GuidLayout, Scratch);
  return Scratch;
}

const CHAR8* TimeText(const UINT8* Time, CHAR8* Scratch) {
  // Byte reads: the record may sit at any alignment.
  CHAR8* At = PutDecimal(Scratch, Time[2], 2);
  *At++ = '/';
  At = PutDecimal(At, Time[3], 2);
  *At++ = '/';
  At = PutDecimal(At, Time[0] | (Time[1] << 8), 4);
  *At++ = ' ';
  *At++ = ' ';
  At = PutDecimal(At, Time[4], 2);
  *At++ = ':';
  At = PutDecimal(At, Time[5], 2);
  *At = 0;
  WalkAsFormatted(TimeLayout, Scratch);
  return Scratch;
}

const CHAR8* StatusText(EFI_STATUS Status, CHAR8* Scratch) {
  if (EFI_ERROR(Status)) {
    const UINTN Number = Status & ~MAX_BIT;
    if (Number >= 1 && Number <= StatusErrorCount) {
      return StatusTextTable[StatusWarningCount - 1 + Number];
    }
  } else if (Status < StatusWarningCount) {
    return StatusTextTable[Status];
  }
  *PutHex(Scratch, Status, 8) = 0;
  WalkAsFormatted(StatusLayout, Scratch);
  return Scratch;
}
