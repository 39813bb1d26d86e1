// 64-by-32 division in two 32-bit divide steps, so that no compiler helper is needed.
#include "Library/BaseLib.h"
#include "Library/DebugLib.h"

namespace {
// Check sites: the line numbers are fixed report coordinates, not lines of this file.
constexpr CheckSite DivisorNotZero = {"Library/BaseLib/DivU64x32Remainder.cpp", 47, "Divisor != 0"};
}  // namespace

UINT64 DivU64x32Remainder(UINT64 Dividend, UINT32 Divisor, UINT32* Remainder) {
  Check(Divisor != 0, DivisorNotZero);
  // A divide by zero would trap; report it as a zero quotient and remainder.
  if (Divisor == 0) {
    if (Remainder != nullptr) {
      *Remainder = 0;
    }
    return 0;
  }
  UINT32 Carry;
  const UINT32 QuotientHigh = DivideStep(0, static_cast<UINT32>(Dividend >> 32), Divisor, Carry);
  UINT32 Rest;
  const UINT32 QuotientLow = DivideStep(Carry, static_cast<UINT32>(Dividend), Divisor, Rest);
  if (Remainder != nullptr) {
    *Remainder = Rest;
  }
  return (static_cast<UINT64>(QuotientHigh) << 32) | QuotientLow;
}
