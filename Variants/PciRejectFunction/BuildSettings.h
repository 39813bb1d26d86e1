// Refused by the build: function 8.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE_LIST(UartPciDevice, UartPciDeviceList, {{0x03, 8, 0}, {UartPciDeviceListEnd, 0, 0}});
}  // namespace Settings
