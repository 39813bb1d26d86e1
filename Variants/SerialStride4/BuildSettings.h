// UARTs on I/O ports with their registers 4 ports apart.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE(UartRegisterStride, 4);
}  // namespace Settings
