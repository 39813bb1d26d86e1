// What the engine's units share: check sites, the argument cursor, the
// scratch text's size and the status names.
#pragma once

#include "Library/DebugLib.h"
#include "Library/PrintLib.h"

// Check sites: the line numbers are fixed report coordinates, not lines of
// PrintLibInternal.cpp.
namespace PrintLibSites {
inline constexpr const CHAR8* Path = "Library/BasePrintLib/PrintLibInternal.cpp";
inline constexpr CheckSite BufferPresent = {Path, 366, "Buffer != ((void *) 0)"};
inline constexpr CheckSite WideFormatSize = {Path, 397, "StrSize ((CHAR16 *) Format) != 0"};
inline constexpr CheckSite AsciiFormatSize = {Path, 405, "AsciiStrSize (Format) != 0"};
inline constexpr CheckSite BufferPresentAtEnd = {Path, 973, "Buffer != ((void *) 0)"};
inline constexpr CheckSite WideResultSize = {
    Path, 982, "(((Flags & 0x00000040) == 0)) || (StrSize ((CHAR16 *) OriginalBuffer) != 0)"};
inline constexpr CheckSite AsciiResultSize = {
    Path, 987, "(((Flags & 0x00000040) != 0)) || (AsciiStrSize (OriginalBuffer) != 0)"};
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
