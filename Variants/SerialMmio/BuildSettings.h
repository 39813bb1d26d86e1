// A UART whose registers are in the memory-mapped space.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE(UartUseMmio, true);
QEL_OVERRIDE(UartBase, 0xFEDC6000);
}  // namespace Settings
