// The stack the module runs on: painted before the call so that the deepest
// point it reached can be read off afterwards, with an absent guard page below.
#pragma once

#include "Base.h"

namespace ModuleStack {
inline constexpr UINT32 Bytes = 64 * 1024;

void Paint();       // also makes the guard page absent (paging must be on)
UINT32 Top();       // the initial ESP
UINT32 HighWaterMark();  // bytes below Top that were written
bool InGuardPage(UINT32 Address);
}  // namespace ModuleStack
