// The digit writer shared by numbers, the record texts and ValueToDigits.
// Included by the engine alone: internal, so that calls pass their arguments
// in registers (and, as fastcall, pop the rest themselves).
#pragma once

#include "Library/BaseLib.h"
#include "PrintLibInternal.h"

namespace {
// Writes the digits of the value High:Low backwards so that they end before
// Last, at least Least of them, hexadecimal or decimal. Returns the first
// (most significant) character. A "," goes before every third digit once
// InGroup, the digits already in the group, reaches 3; it starts at 0 for
// separators and at NoGroups for none.
inline constexpr UINTN NoGroups = 0x80000000;
[[gnu::noinline, gnu::fastcall]] CHAR8* PutDigits(CHAR8* Last, UINT32 Low, UINT32 High, bool Hex, UINTN Least,
                                                  UINTN InGroup) {
  // Above 32 bits the value goes in pieces of eight hexadecimal or nine
  // decimal digits; a piece below the most significant one keeps its zeros.
  do {
    UINT32 Piece = Low;
    if (High == 0) {
      Low = 0;
    } else if (Hex) {
      Least = 8;
      Low = High;
      High = 0;
    } else {
      Least = 9;
      UINT32 Carry;
      High = DivideStep(0, High, 1000000000, Carry);
      Low = DivideStep(Carry, Low, 1000000000, Piece);
    }
    CHAR8* Stop = Last - Least;
    do {
      if (InGroup == 3) {
        *--Last = ',';
        --Stop;
        InGroup = 0;
      }
      ++InGroup;
      *--Last = HexDigits[Hex ? Piece & 0xF : Piece % 10];
      Piece = Hex ? Piece >> 4 : Piece / 10;
    } while (Last > Stop || Piece != 0);
    Least = 1;
  } while ((Low | High) != 0);
  return Last;
}
}  // namespace
