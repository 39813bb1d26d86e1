// Makes the Super I/O decode both serial ports, unless an earlier stage did.
#include "Library/IoLib.h"
#include "Library/SerialPortLib.h"

namespace {
constexpr UINT16 SuperIoIndexPort = 0x4E;
constexpr UINT16 SuperIoDataPort = 0x4F;

constexpr UINT8 LogicalDeviceSelect = 0x07;
constexpr UINT8 ActivationRegister = 0x30;
constexpr UINT8 BaseHighRegister = 0x60;
constexpr UINT8 BaseLowRegister = 0x61;
constexpr UINT8 InterruptRegister = 0x70;

constexpr UINT8 FirstUartDevice = 3;   // the UART at 0x3F8
constexpr UINT8 SecondUartDevice = 2;  // the UART at 0x2F8
constexpr UINT8 DeviceActive = 0x01;

struct SuperIoRegisterWrite {
  UINT8 Index;
  UINT8 Value;
};

// Device 2 is programmed last, so it stays selected afterwards.
constexpr SuperIoRegisterWrite SuperIoSetupTable[] = {
    {LogicalDeviceSelect, FirstUartDevice},  {BaseHighRegister, 0x03}, {BaseLowRegister, 0xF8},
    {InterruptRegister, 4},                  {ActivationRegister, DeviceActive},
    {LogicalDeviceSelect, SecondUartDevice}, {BaseHighRegister, 0x02}, {BaseLowRegister, 0xF8},
    {InterruptRegister, 3},                  {ActivationRegister, DeviceActive},
};
static_assert(sizeof(SuperIoSetupTable) / sizeof(SuperIoSetupTable[0]) == 10);

UINT8 ReadActivation(UINT8 Device) {
  PortOut8(SuperIoIndexPort, LogicalDeviceSelect);
  PortOut8(SuperIoDataPort, Device);
  PortOut8(SuperIoIndexPort, ActivationRegister);
  return PortIn8(SuperIoDataPort);
}
}  // namespace

// Returns the number of register writes of the table it made.
UINTN SuperIoUartSetup() {
  const UINT8 FirstActivation = ReadActivation(FirstUartDevice);
  const UINT8 SecondActivation = ReadActivation(SecondUartDevice);
  // Only exactly 1 counts as set up: an absent chip reads 0xFF.
  if (FirstActivation == DeviceActive || SecondActivation == DeviceActive) {
    return 0;
  }
  UINTN Written = 0;
  for (const SuperIoRegisterWrite& Entry : SuperIoSetupTable) {
    PortOut8(SuperIoIndexPort, Entry.Index);
    PortOut8(SuperIoDataPort, Entry.Value);
    ++Written;
  }
  return Written;
}

EFI_STATUS SuperIoUartSetupStatus() {
  SuperIoUartSetup();
  return EFI_SUCCESS;
}
