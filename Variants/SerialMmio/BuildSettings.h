// A UART whose registers are in the memory-mapped space.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
inline constexpr bool UartUseMmio = true;
inline constexpr UINT32 UartBase = 0xFEDC6000;
}  // namespace Settings
