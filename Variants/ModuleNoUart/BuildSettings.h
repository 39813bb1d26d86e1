// A UART behind a bridge at 00:1C.0 that the board does not have: the way to
// the UART is never usable, so the console never comes up.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE_LIST(UartPciDevice, UartPciDeviceList, {{0x1C, 0, 0}, {0x00, 0, 0}, {UartPciDeviceListEnd, 0, 0}});
}
