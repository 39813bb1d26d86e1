// A PCI UART through an I/O BAR behind the bridge at 00:1C.0; both can leave D0.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE_LIST(UartPciDevice, UartPciDeviceList, {
    {0x1C, 0, 0x44}, {0x00, 0, 0x84}, {UartPciDeviceListEnd, 0, 0}});
}  // namespace Settings
