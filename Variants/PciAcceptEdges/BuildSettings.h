// Accepted by the build: the largest device, function and power-management
// register, and records after the terminator, which are never read.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE_LIST(UartPciDevice, UartPciDeviceList, {
    {31, 7, 0xFC}, {0, 0, 0}, {UartPciDeviceListEnd, 0, 0}, {0x40, 9, 0x3}});
}  // namespace Settings
