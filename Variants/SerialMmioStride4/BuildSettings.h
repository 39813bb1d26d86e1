// A memory-mapped UART with its registers 4 bytes apart.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
inline constexpr bool UartUseMmio = true;
inline constexpr UINT32 UartBase = 0xFEDC6000;
inline constexpr UINT32 UartRegisterStride = 4;
}  // namespace Settings
