// Checks and messages off: the engine must stay safe without its reports.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
inline constexpr UINT8 DebugControlMask = 0x00;
}
