// Hardware flow control: a peer that is there (DSR) and says stop (no CTS) holds output.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE(UartHardwareFlowControl, true);
}  // namespace Settings
