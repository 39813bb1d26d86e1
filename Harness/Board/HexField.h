// Numbers as the bench's reports and messages write them: upper-case
// hexadecimal with a fixed least number of digits.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// HexDigits(0x3F8, 4) is "03F8"; a value wider than Digits keeps all its digits.
inline std::string HexDigits(uint64_t Value, int Digits) {
  char Text[24];
  std::snprintf(Text, sizeof Text, "%0*llX", Digits, static_cast<unsigned long long>(Value));
  return Text;
}

// HexField(0x3F8, 3) is "0x3F8"; a status or an address takes eight digits.
inline std::string HexField(uint64_t Value, int Digits = 8) { return "0x" + HexDigits(Value, Digits); }
