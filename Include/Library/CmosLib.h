// The platform's CMOS bytes through the index/data pair at 0x70/0x71. The
// index is written without the NMI bit and without a guard: the module runs
// alone on the boot processor.
#pragma once

#include "Library/IoLib.h"

namespace Cmos {
inline constexpr UINT16 IndexPort = 0x70;
inline constexpr UINT16 DataPort = 0x71;

inline UINT8 Read8(UINT8 Index) {
  PortOut8(IndexPort, Index);
  return PortIn8(DataPort);
}
}  // namespace Cmos
