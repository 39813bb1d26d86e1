// How a person types a number to the bench, in the board runner's switches
// and in the QEMU core's scenario settings alike: decimal, or hexadecimal
// after 0x. A mask or status is written in hexadecimal, so a bare one that
// would also read as hexadecimal (80000000) is refused rather than taken as
// the decimal it spells. Freestanding and header-only, for both builds.
#pragma once

#include "Base.h"

namespace NumberSyntax {

enum class Verdict : UINT8 {
  Number,          // Value holds it
  NotANumber,      // empty, a stray character, or 0x with no digits
  TooLarge,        // above the field's largest value
  AmbiguousMask,   // a bare mask or status that reads as hexadecimal too
};

struct Reading {
  Verdict Result;
  UINT64 Value;
};

namespace Detail {
constexpr UINT32 DigitOf(CHAR8 Character) {
  if (Character >= '0' && Character <= '9') {
    return static_cast<UINT32>(Character - '0');
  }
  if (Character >= 'A' && Character <= 'F') {
    return static_cast<UINT32>(Character - 'A' + 10);
  }
  if (Character >= 'a' && Character <= 'f') {
    return static_cast<UINT32>(Character - 'a' + 10);
  }
  return 16;
}

// The digits in Radix, or Most + 1 once the value passes Most. Most stays
// below 2^60 (the fields are 32-bit), so that cannot wrap. No division: the
// PEI core links no helper for 64-bit division.
constexpr UINT64 ValueOf(const CHAR8* Digits, UINT32 Length, UINT32 Radix, UINT64 Most) {
  UINT64 Value = 0;
  for (UINT32 Index = 0; Index < Length; ++Index) {
    // Below 2^60 one more digit cannot overflow; at or above it, it is past Most.
    if (Value >= (UINT64{1} << 60)) {
      return Most + 1;
    }
    Value = Value * Radix + DigitOf(Digits[Index]);
    if (Value > Most) {
      return Most + 1;
    }
  }
  return Value;
}

constexpr bool HasPrefix(const CHAR8* Text, UINT32 Length) {
  return Length > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X');
}
}  // namespace Detail

// Reads Length characters of Text (no terminator needed). Mask marks a mask
// or status field.
constexpr Reading Read(const CHAR8* Text, UINT32 Length, bool Mask, UINT64 Most) {
  const bool Hex = Detail::HasPrefix(Text, Length);
  const CHAR8* Digits = Hex ? Text + 2 : Text;
  const UINT32 Count = Hex ? Length - 2 : Length;
  const UINT32 Radix = Hex ? 16 : 10;
  if (Count == 0) {
    return {Verdict::NotANumber, 0};
  }
  for (UINT32 Index = 0; Index < Count; ++Index) {
    if (Detail::DigitOf(Digits[Index]) >= Radix) {
      return {Verdict::NotANumber, 0};
    }
  }
  // One digit means the same in both bases; a bare number too long for the
  // field in hexadecimal can only be meant as decimal.
  if (Mask && !Hex && Count > 1 && Detail::ValueOf(Digits, Count, 16, Most) <= Most) {
    // At most 15 digits here, so the decimal reading is exact.
    return {Verdict::AmbiguousMask, Detail::ValueOf(Digits, Count, 10, UINT64{1} << 60)};
  }
  const UINT64 Value = Detail::ValueOf(Digits, Count, Radix, Most);
  if (Value > Most) {
    return {Verdict::TooLarge, 0};
  }
  return {Verdict::Number, Value};
}

// The refusal of an ambiguous mask, after the value as typed:
//   would read as decimal 80000000 (0x04C4B400); masks and statuses are
//   written in hexadecimal: 0x80000000
// An ambiguous mask has at most 16 digits; Out takes WhyBytes.
inline constexpr UINT32 WhyBytes = 160;

class Text {
public:
  constexpr explicit Text(CHAR8* Into) : Out(Into) {}
  constexpr void Put(const CHAR8* Piece, UINT32 Length = 0xFFFFFFFF) {
    for (UINT32 Index = 0; Index < Length && Piece[Index] != 0 && Used + 1 < WhyBytes; ++Index) {
      Out[Used++] = Piece[Index];
    }
    Out[Used] = 0;
  }
  constexpr void PutHex(UINT64 Value, UINT32 Digits) {
    constexpr CHAR8 Hex[] = "0123456789ABCDEF";
    for (UINT32 Index = Digits; Index-- > 0;) {
      const CHAR8 Digit[2] = {Hex[(Value >> (4 * Index)) & 0xF], 0};
      Put(Digit);
    }
  }
  constexpr UINT32 Length() const { return Used; }

private:
  CHAR8* Out;
  UINT32 Used = 0;
};

// Digits are the bare digits as typed; Decimal is their decimal value from Read.
constexpr UINT32 WhyAmbiguous(const CHAR8* Digits, UINT32 Length, UINT64 Decimal, CHAR8 (&Out)[WhyBytes]) {
  Text Why(Out);
  Why.Put("would read as decimal ");
  Why.Put(Digits, Length);
  Why.Put(" (0x");
  Why.PutHex(Decimal, Decimal > 0xFFFFFFFF ? 16 : 8);
  Why.Put("); masks and statuses are written in hexadecimal: 0x");
  Why.Put(Digits, Length);
  return Why.Length();
}

namespace Proof {
constexpr bool Is(const CHAR8* Text, Verdict Result, UINT64 Value, bool Mask = false, UINT64 Most = 0xFFFFFFFF) {
  UINT32 Length = 0;
  while (Text[Length] != 0) {
    ++Length;
  }
  const Reading Got = Read(Text, Length, Mask, Most);
  return Got.Result == Result && Got.Value == Value;
}
static_assert(Is("0x80000000", Verdict::Number, 0x80000000, true));
static_assert(Is("80000000", Verdict::AmbiguousMask, 80000000, true));
static_assert(Is("2147483647", Verdict::Number, 2147483647, true));  // ten digits: too long for hex
static_assert(Is("7", Verdict::Number, 7, true));
static_assert(Is("256", Verdict::TooLarge, 0, false, 0xFF));
static_assert(Is("0x", Verdict::NotANumber, 0));
}  // namespace Proof

}  // namespace NumberSyntax
