// A PCI UART (function 1) through an I/O BAR behind two bridges; the first
// bridge has no power management.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE_LIST(UartPciDevice, UartPciDeviceList, {
    {0x01, 0, 0}, {0x02, 0, 0x54}, {0x00, 1, 0x44}, {UartPciDeviceListEnd, 0, 0}});
}  // namespace Settings
