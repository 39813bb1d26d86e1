// Refused by the build: a bridge record with device 0x20.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE_LIST(UartPciDevice, UartPciDeviceList, {{0x20, 0, 0}, {0x00, 0, 0}, {UartPciDeviceListEnd, 0, 0}});
}  // namespace Settings
