// Hardware flow control with cable detection: output only with both CTS and DSR.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE(UartHardwareFlowControl, true);
QEL_OVERRIDE(UartDetectCable, true);
}  // namespace Settings
