// Halt after each report; messages off.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
inline constexpr UINT8 DebugControlMask = 0x21;
}
