// Checks and messages on, no trap and no halt.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE(DebugControlMask, 0x03);
}
