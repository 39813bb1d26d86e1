// The bounded printf-like format engine and its front ends.
#pragma once

#include <stdarg.h>

#include "Base.h"

// Options word: the caller may set WideOutput, WideFormat and MeasureOnly; the
// other bits are the engine's working state for one format element (bits
// 0x0200, 0x0400, 0x1000 and 0x4000 are not used).
namespace PrintFlags {
inline constexpr UINTN AlignLeft = 0x0001;
inline constexpr UINTN ShowPlus = 0x0002;
inline constexpr UINTN ShowSpace = 0x0004;
inline constexpr UINTN GroupThousands = 0x0008;
inline constexpr UINTN Value64 = 0x0010;
inline constexpr UINTN ZeroFill = 0x0020;
inline constexpr UINTN WideOutput = 0x0040;
inline constexpr UINTN Base16 = 0x0080;
inline constexpr UINTN WideFormat = 0x0100;
inline constexpr UINTN PrecisionGiven = 0x0800;
inline constexpr UINTN MeasureOnly = 0x2000;
inline constexpr UINTN CallerBits = WideOutput | WideFormat | MeasureOnly;
}  // namespace PrintFlags

// Buffer and Format are byte or CHAR16 strings as the options say; BufferSize
// counts characters of the output width. ArgumentList walks 4-byte slots; a
// non-null OverrideList is read instead of it. Returns the characters written,
// without the terminator (with MeasureOnly: the characters the output needs,
// saturated at 0xFFFFFFFF).
UINTN FormatEngine(VOID* Buffer, UINTN BufferSize, UINTN Flags, const VOID* Format, const UINT32* ArgumentList,
                   const UINT32* OverrideList);
UINTN FormatToBuffer(VOID* Buffer, UINTN BufferSize, UINTN Flags, const VOID* Format, ...);
UINTN AsciiFormatList(CHAR8* Buffer, UINTN BufferSize, const CHAR8* Format, va_list Arguments);
UINTN AsciiFormat(CHAR8* Buffer, UINTN BufferSize, const CHAR8* Format, ...);

// The engine's own filler and digit writer, with the signatures callers know.

// Writes Count copies of Character (its low byte, then its high byte when
// CharacterSize is 2) while whole characters fit below End; a Count of zero or
// less writes nothing. Returns the new position.
UINT8* FillChars(UINT8* Position, const UINT8* End, INTN Count, UINT16 Character, UINTN CharacterSize);

// Writes a 0 at Scratch, then the digits of Value in Radix (10 or 16) least
// significant first from Scratch + 1. Returns the position of the most
// significant digit, so the digit count is that position minus Scratch.
CHAR8* ValueToDigits(CHAR8* Scratch, UINT64 Value, UINTN Radix);

// Names printed by "%r": rows 0..5 are warnings 0..5, rows 6..38 errors 1..33.
inline constexpr UINTN StatusWarningCount = 6;
inline constexpr UINTN StatusErrorCount = 33;
extern const CHAR8* const StatusTextTable[StatusWarningCount + StatusErrorCount];
