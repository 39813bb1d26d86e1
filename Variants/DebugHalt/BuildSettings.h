// Halt after each report; messages off.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE(DebugControlMask, 0x21);
}
