// The serial console: Super I/O setup, the two-UART 16550 driver and the
// location of the UART.
#pragma once

#include "Base.h"

UINTN SuperIoUartSetup();
EFI_STATUS SuperIoUartSetupStatus();

UINT8 UartRead(UINTN Base, UINTN Index);
UINT8 UartWrite(UINTN Base, UINTN Index, UINT8 Value);
bool SerialWritable(UINTN Base);
EFI_STATUS SerialInit();
UINTN SerialWrite(const UINT8* Buffer, UINTN Length);

UINTN FindUartBase();
UINT32 UpdateBar32(UINT32 Address, UINT32 Base, UINT32 Mask);
