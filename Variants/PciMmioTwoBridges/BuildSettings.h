// A memory-mapped PCI UART (function 1) behind two bridges; the first bridge
// has no power management.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
inline constexpr UINT32 UartBase = 0xFE001000;
inline constexpr bool UartUseMmio = true;
inline constexpr UartPciDevice UartPciDeviceList[] = {
    {0x01, 0, 0}, {0x02, 0, 0x54}, {0x00, 1, 0x44}, {UartPciDeviceListEnd, 0, 0}};
}  // namespace Settings
