// UARTs on I/O ports with their registers 4 ports apart.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
inline constexpr UINT32 UartRegisterStride = 4;
}  // namespace Settings
