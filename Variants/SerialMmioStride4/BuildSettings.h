// A memory-mapped UART with its registers 4 bytes apart.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE(UartUseMmio, true);
QEL_OVERRIDE(UartBase, 0xFEDC6000);
QEL_OVERRIDE(UartRegisterStride, 4);
}  // namespace Settings
