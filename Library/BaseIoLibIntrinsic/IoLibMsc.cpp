// Port input and output of 8, 16 and 32 bits; wider ports must be aligned.
#include "Instructions.h"
#include "Library/DebugLib.h"
#include "Library/IoLib.h"

namespace {
// Check sites: the line numbers are fixed report coordinates, not lines of this file.
constexpr const CHAR8* Path = "Library/BaseIoLibIntrinsic/IoLibMsc.cpp";
constexpr CheckSite PortIn16Aligned = {Path, 133, "(Port & 1) == 0"};
constexpr CheckSite PortOut16Aligned = {Path, 163, "(Port & 1) == 0"};
constexpr CheckSite PortIn32Aligned = {Path, 193, "(Port & 3) == 0"};
constexpr CheckSite PortOut32Aligned = {Path, 223, "(Port & 3) == 0"};
}  // namespace

UINT8 PortIn8(UINT16 Port) { return Cpu::In8(Port); }

UINT8 PortOut8(UINT16 Port, UINT8 Value) {
  Cpu::Out8(Port, Value);
  return Value;
}

// A misaligned port is reported and then accessed all the same.
UINT16 PortIn16(UINT16 Port) {
  Check((Port & 1) == 0, PortIn16Aligned);
  return Cpu::In16(Port);
}

UINT16 PortOut16(UINT16 Port, UINT16 Value) {
  Check((Port & 1) == 0, PortOut16Aligned);
  Cpu::Out16(Port, Value);
  return Value;
}

UINT32 PortIn32(UINT16 Port) {
  Check((Port & 3) == 0, PortIn32Aligned);
  return Cpu::In32(Port);
}

UINT32 PortOut32(UINT16 Port, UINT32 Value) {
  Check((Port & 3) == 0, PortOut32Aligned);
  Cpu::Out32(Port, Value);
  return Value;
}
