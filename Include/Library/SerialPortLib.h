// The serial console: Super I/O setup, the two-UART 16550 driver and the
// location of the UART.
#pragma once

#include "Base.h"

// Activates the Super I/O's UART devices 3 (0x3F8) and 2 (0x2F8) unless either
// already is; returns the number of setup-table writes made (0 or 10).
UINTN SuperIoUartSetup();
// SuperIoUartSetup as a step of SerialInit; it cannot fail.
EFI_STATUS SuperIoUartSetupStatus();

// One 16550 register at Base + Index x UartRegisterStride, on a port or in
// memory as the build places it. UartWrite returns the value written.
UINT8 UartRead(UINTN Base, UINTN Index);
UINT8 UartWrite(UINTN Base, UINTN Index, UINT8 Value);

// Whether the UART may take another byte under hardware flow control.
bool SerialWritable(UINTN Base);
// Sets up the Super I/O and brings both UARTs to the CMOS-selected baud rate,
// 8N1 with FIFOs; EFI_DEVICE_ERROR when no UART is found.
EFI_STATUS SerialInit();
// Sends Length bytes to both UARTs; Length 0 waits until both have drained.
// Returns the number of bytes sent.
UINTN SerialWrite(const UINT8* Buffer, UINTN Length);

// Where the UART's registers are; 0 when it cannot be reached.
UINTN FindUartBase();
UINT32 UpdateBar32(UINT32 Address, UINT32 Base, UINT32 Mask);
