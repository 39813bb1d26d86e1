// The codes HaltLoop writes to the 32-bit diagnostic port around its spin, so
// that a POST-code card or a debugger sees where the processor is parked.
#pragma once

#include "Base.h"

inline constexpr UINT16 HaltCodePort = 0xE8;
inline constexpr UINT32 HaltEnterCode = 0x4C6F6F70;  // "Loop"
inline constexpr UINT32 HaltLeaveCode = 0x4C456E64;  // "LEnd"
