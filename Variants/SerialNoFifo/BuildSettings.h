// FIFOs off (bit 0 clear): one byte at a time.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE(UartFifoControl, 0x06);
}  // namespace Settings
