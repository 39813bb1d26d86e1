// A memory-mapped PCI UART on bus 0 (device 3, function 0).
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
inline constexpr UINT32 UartBase = 0xFE001000;
inline constexpr bool UartUseMmio = true;
inline constexpr UartPciDevice UartPciDeviceList[] = {{0x03, 0, 0x44}, {UartPciDeviceListEnd, 0, 0}};
}  // namespace Settings
