// The format engine as it was before its rewrite, kept under its own namespace
// so that tests and benchmarks can compare the two on the same input.
#pragma once

#include "Library/DebugLib.h"
#include "Library/PrintLib.h"

namespace PrintLibBefore {
// The working bits this engine used beyond those the current one keeps.
namespace PrintFlags {
using namespace ::PrintFlags;
inline constexpr UINTN WidthGiven = 0x0200;
inline constexpr UINTN ArgWide = 0x0400;
inline constexpr UINTN DigitsReversed = 0x1000;
inline constexpr UINTN TreatUnsigned = 0x4000;
}  // namespace PrintFlags

UINTN FormatEngine(VOID* Buffer, UINTN BufferSize, UINTN Flags, const VOID* Format, const UINT32* ArgumentList,
                   const UINT32* OverrideList);
UINTN FormatToBuffer(VOID* Buffer, UINTN BufferSize, UINTN Flags, const VOID* Format, ...);
UINTN AsciiFormatList(CHAR8* Buffer, UINTN BufferSize, const CHAR8* Format, va_list Arguments);
UINTN AsciiFormat(CHAR8* Buffer, UINTN BufferSize, const CHAR8* Format, ...);
UINT8* FillChars(UINT8* Position, const UINT8* End, INTN Count, UINT16 Character, UINTN CharacterSize);
CHAR8* ValueToDigits(CHAR8* Scratch, UINT64 Value, UINTN Radix);

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

// Walks the 4-byte argument slots; a 64-bit value takes two, low word first.
class ArgSlots {
public:
  explicit ArgSlots(const UINT32* First) : Next(First) {}
  UINT32 Take32() { return *Next++; }
  UINT64 Take64() {
    const UINT64 Low = Take32();
    return Low | (static_cast<UINT64>(Take32()) << 32);
  }
  const UINT8* TakePointer() { return reinterpret_cast<const UINT8*>(static_cast<UINTN>(Take32())); }

private:
  const UINT32* Next;
};

// Reads the format one character at a time; 16-bit characters are read a byte
// at a time because a CHAR16 format need not be aligned.
class FormatCursor {
public:
  FormatCursor(const UINT8* Start, UINTN Step) : At(Start), Step(Step) {}
  UINT16 Current() const { return Step == 2 ? static_cast<UINT16>(At[0] | (At[1] << 8)) : At[0]; }
  void Advance() { At += Step; }
  void Back() { At -= Step; }

private:
  const UINT8* At;
  UINTN Step;
};

// One format element: its options word, width, precision and the text that
// the measuring and writing steps use.
struct Element {
  UINTN Flags;
  UINTN Width;
  UINTN Precision;
  UINT8 Sign;          // 0, ' ', '+' or '-'
  bool Group;          // thousands separators
  UINTN Count;         // characters of Text, set here for digit strings
  UINTN GroupCounter;  // digits written since the last separator
  const UINT8* Text;   // bytes or CHAR16 (ArgWide); the most significant digit for DigitsReversed
  UINT8 OneCharacter[4];  // a one-character CHAR16 text and its terminator
};

// Chooses the text for the conversion character that ends a "%" element;
// "\n" and "\r" may consume the next format character.
void ConvertElement(Element& Item, UINT16 Conversion, FormatCursor& Format, ArgSlots& Arguments, CHAR8* Scratch);
// The text of a character outside a "%" element: a line end or the character itself.
void LiteralElement(Element& Item, UINT16 Character, FormatCursor& Format);
}  // namespace PrintLibBefore
