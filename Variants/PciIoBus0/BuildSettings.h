// A PCI UART on bus 0 (device 3, function 0), reached through an I/O BAR.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE_LIST(UartPciDevice, UartPciDeviceList, {{0x03, 0, 0x44}, {UartPciDeviceListEnd, 0, 0}});
}  // namespace Settings
