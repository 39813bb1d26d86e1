// Builds the bridges and the UART function of the build's UartPciDeviceList.
#include "PciTopology.h"

#include "BuildSettings.h"

void BuildPciTopology(Sim::Machine&) {
  if constexpr (Settings::UartPciDeviceList[0].Device == UartPciDeviceListEnd) {
    return;
  }
}
