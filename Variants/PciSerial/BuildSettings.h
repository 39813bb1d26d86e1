// The image variant for QEMU's PCI topology: the UART is the pci-serial
// function 0 of device 0 behind the pci-bridge at 00:02.0. pci-serial has no
// power-management capability; register 0x44 is scratch space that the
// harness puts into D3 to stand for one, so the D0 step can be seen.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE_LIST(UartPciDevice, UartPciDeviceList, {{0x02, 0, 0}, {0x00, 0, 0x44}, {UartPciDeviceListEnd, 0, 0}});
}  // namespace Settings
