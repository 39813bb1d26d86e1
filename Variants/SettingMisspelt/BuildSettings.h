// Refused by the build: a setting whose name is misspelt would otherwise
// compile and leave the default in force.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE(UartFifoControll, 0x06);
}  // namespace Settings
