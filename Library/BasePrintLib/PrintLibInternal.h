// What the engine's units share: its check site, the argument cursor, the
// scratch text's size and the status names.
#pragma once

#include "Library/DebugLib.h"
#include "Library/PrintLib.h"

// The one check the engine makes itself. The size checks of the format and of
// the result (lines 397, 405, 982 and 987) cannot fail, and the end's buffer
// check (line 973) cannot be reached; what they would report comes from the
// length walks inside them, which the engine keeps. The line number is a fixed
// report coordinate, not a line of PrintLibInternal.cpp.
namespace PrintLibSites {
inline constexpr CheckSite BufferPresent = {"Library/BasePrintLib/PrintLibInternal.cpp", 366, "Buffer != ((void *) 0)"};
}  // namespace PrintLibSites

inline constexpr UINTN ScratchTextLength = 38;
inline constexpr CHAR8 HexDigits[] = "0123456789ABCDEF";

// Walks the 4-byte argument slots; a 64-bit value takes two, low word first.
class ArgSlots {
public:
  explicit ArgSlots(const UINT32* First) : Next(First) {}
  UINT32 Take32() { return *Next++; }

private:
  const UINT32* Next;
};

// The name in row Row of StatusTextTable.
const CHAR8* StatusName(UINTN Row);
