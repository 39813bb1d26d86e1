// Checks and messages on, no trap and no halt.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
inline constexpr UINT8 DebugControlMask = 0x03;
}
