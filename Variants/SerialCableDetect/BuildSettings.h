// Hardware flow control with cable detection: output only with both CTS and DSR.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
inline constexpr bool UartHardwareFlowControl = true;
inline constexpr bool UartDetectCable = true;
}  // namespace Settings
