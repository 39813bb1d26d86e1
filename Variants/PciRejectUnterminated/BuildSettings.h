// Refused by the build: no record with Device 0xFF ends the list.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE_LIST(UartPciDevice, UartPciDeviceList, {{0x01, 0, 0}, {0x00, 0, 0x44}});
}  // namespace Settings
