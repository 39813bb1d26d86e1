// Refused by the build: a power-management register that is not dword-aligned.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE_LIST(UartPciDevice, UartPciDeviceList, {{0x03, 0, 0x46}, {UartPciDeviceListEnd, 0, 0}});
}  // namespace Settings
