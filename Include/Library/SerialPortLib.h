// The serial console: Super I/O setup, the two-UART 16550 driver and the
// location of the UART.
#pragma once

#include "Base.h"
#include "BuildSettings.h"

// Activates the Super I/O's UART devices 3 (0x3F8) and 2 (0x2F8) unless either
// already is; returns the number of setup-table writes made (0 or 10).
UINTN SuperIoUartSetup();
// SuperIoUartSetup as a step of SerialInit; it cannot fail.
EFI_STATUS SuperIoUartSetupStatus();

// One 16550 register at Base + Index x UartRegisterStride, on a port or in
// memory as the build places it. UartWrite returns the value written.
UINT8 UartRead(UINTN Base, UINTN Index);
UINT8 UartWrite(UINTN Base, UINTN Index, UINT8 Value);

// The baud rates that bits 1..2 of CMOS byte 0x6F select, in that order.
inline constexpr UINT32 SerialBaudRates[] = {115200, 57600, 19200, 9600};

// Waits on a UART count polls of its status register, since the module has no
// timer; a UART that has not answered after SerialPollLimit polls is given up
// for the rest of the call. The bound covers draining the deepest transmit
// FIFO the build can configure, and the shift register behind it, at the
// slowest selectable baud rate in the longest frame a 16550 sends (start, 8
// data, parity, 2 stop bits), even if every poll took only 100 ns. No bus
// answers an uncached device-register read that fast (an LPC I/O read takes
// about 0.5 us, a PCI read several hundred ns), so on real boards the bound
// is several times the drain. The extended FIFO counts even where the build
// asks for 16 bytes: an earlier stage may have left it on. With the 64-byte
// FIFO: 65 frames x 12 bits at 9600 baud = 81.25 ms = 812,500 polls.
inline constexpr UINT32 SerialLongestFrameBits = 1 + 8 + 1 + 2;
inline constexpr UINT32 SerialFastestPollNanoseconds = 100;

constexpr UINT32 SerialSlowestBaudRate() {
  UINT32 Slowest = SerialBaudRates[0];
  for (const UINT32 Rate : SerialBaudRates) {
    Slowest = Rate < Slowest ? Rate : Slowest;
  }
  return Slowest;
}

constexpr UINT32 SerialDeepestTransmitFifo() {
  constexpr UINT32 StandardFifo = 16;
  return Settings::UartExtendedTxFifoSize > StandardFifo ? Settings::UartExtendedTxFifoSize : StandardFifo;
}

inline constexpr UINT64 SerialDrainNanoseconds =
    UINT64{SerialDeepestTransmitFifo() + 1} * SerialLongestFrameBits * 1000000000u / SerialSlowestBaudRate();
inline constexpr UINT32 SerialPollLimit = static_cast<UINT32>(SerialDrainNanoseconds / SerialFastestPollNanoseconds);
static_assert(Settings::UartExtendedTxFifoSize != 64 || SerialPollLimit == 812500);
// A dead UART costs every message one bound; at about 1 us per poll that must
// stay a pause, not a hang.
static_assert(SerialPollLimit <= 2000000, "this FIFO size makes a dead UART cost seconds per message");

// Whether the UART may take another byte under hardware flow control.
bool SerialWritable(UINTN Base);
// Sets up the Super I/O and brings both UARTs to the CMOS-selected baud rate,
// 8N1 with FIFOs; EFI_DEVICE_ERROR when no UART is found. A UART that does not
// drain within the bound is left unprogrammed.
EFI_STATUS SerialInit();
// Sends Length bytes to both UARTs; Length 0 waits until both have drained.
// Returns the number of bytes sent to the UARTs that did not miss a bound.
UINTN SerialWrite(const UINT8* Buffer, UINTN Length);

// Where the UART's registers are; 0 when it cannot be reached.
UINTN FindUartBase();
UINT32 UpdateBar32(UINT32 Address, UINT32 Base, UINT32 Mask);
