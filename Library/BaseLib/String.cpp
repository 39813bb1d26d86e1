// Lengths and sizes of narrow and wide strings, with the build's length limits.
#include "Library/BaseLib.h"
#include "Library/DebugLib.h"

namespace {
// Check sites: the line numbers are fixed report coordinates, not lines of this file.
constexpr const CHAR8* Path = "Library/BaseLib/String.cpp";
constexpr CheckSite WideStringPresent = {Path, 176, "String != ((void *) 0)"};
constexpr CheckSite WideLengthWithinLimit = {Path, 187,
                                             "Length < _gPcd_FixedAtBuild_PcdMaximumUnicodeStringLength"};
constexpr CheckSite AsciiStringPresent = {Path, 1235, "String != ((void *) 0)"};
constexpr CheckSite AsciiLengthWithinLimit = {Path, 1243, "Length < _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength"};
}  // namespace

UINTN WideLength(const CHAR16* String) {
  Check(String != nullptr, WideStringPresent);
  // Counting through a null pointer would fault; a missing string is empty.
  if (String == nullptr) {
    return 0;
  }
  UINTN Length = 0;
  for (; *String != 0; ++String, ++Length) {
    if constexpr (Settings::PcdMaximumUnicodeStringLength != 0) {
      Check(Length < Settings::PcdMaximumUnicodeStringLength, WideLengthWithinLimit);
    }
  }
  return Length;
}

UINTN StrSize(const CHAR16* String) { return (WideLength(String) + 1) * sizeof(CHAR16); }

UINTN AsciiLength(const CHAR8* String) {
  Check(String != nullptr, AsciiStringPresent);
  if (String == nullptr) {
    return 0;
  }
  UINTN Length = 0;
  for (; *String != 0; ++String, ++Length) {
    if constexpr (Settings::PcdMaximumAsciiStringLength != 0) {
      Check(Length < Settings::PcdMaximumAsciiStringLength, AsciiLengthWithinLimit);
    }
  }
  return Length;
}

UINTN AsciiStrSize(const CHAR8* String) { return AsciiLength(String) + 1; }
