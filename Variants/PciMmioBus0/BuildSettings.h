// A memory-mapped PCI UART on bus 0 (device 3, function 0).
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE(UartBase, 0xFE001000);
QEL_OVERRIDE(UartUseMmio, true);
QEL_OVERRIDE_LIST(UartPciDevice, UartPciDeviceList, {{0x03, 0, 0x44}, {UartPciDeviceListEnd, 0, 0}});
}  // namespace Settings
