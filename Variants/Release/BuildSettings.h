// The release image: assertion checks and messages off. The serial console is
// still set up, so a later stage finds the UARTs programmed.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE(DebugControlMask, 0x00);
}
