// The digit writer shared by numbers and the record texts. Included by the
// engine alone: internal, so that calls pass their arguments in registers.
#pragma once

#include "Library/BaseLib.h"
#include "PrintLibInternal.h"

namespace {
// Writes the digits of the value High:Low backwards so that they end before
// Last, at least Least of them, hexadecimal or decimal. Returns the first
// (most significant) one.
[[gnu::noinline]] CHAR8* PutDigits(CHAR8* Last, UINT32 Low, UINT32 High, bool Hex, UINTN Least) {
  // Above 32 bits the value goes in pieces of eight hexadecimal or nine
  // decimal digits; a piece below the most significant one keeps its zeros.
  bool More;
  do {
    UINT32 Piece = Low;
    More = High != 0;
    if (More) {
      if (Hex) {
        Least = 8;
        Low = High;
        High = 0;
      } else {
        Least = 9;
        UINT32 Carry;
        High = DivideStep(0, High, 1000000000, Carry);
        Low = DivideStep(Carry, Low, 1000000000, Piece);
      }
    }
    CHAR8* const Stop = Last - Least;
    do {
      *--Last = HexDigits[Hex ? Piece & 0xF : Piece % 10];
      Piece = Hex ? Piece >> 4 : Piece / 10;
    } while (Last > Stop || Piece != 0);
    Least = 1;
  } while (More);
  return Last;
}
}  // namespace
