// Where the UART's registers are: the fixed base, or a PCI function behind bridges.
#include "BuildSettings.h"
#include "Library/SerialPortLib.h"

UINTN FindUartBase() {
  if constexpr (Settings::UartPciDeviceList[0].Device == UartPciDeviceListEnd) {
    return Settings::UartBase;
  } else {
    return 0;
  }
}
