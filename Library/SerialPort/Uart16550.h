// Registers and bits of the 16550 UART as the driver uses them.
#pragma once

#include "Base.h"

namespace Uart16550 {
// Register indices; the address is Base + Index x UartRegisterStride.
inline constexpr UINTN TransmitHolding = 0;    // THR; DLL while DLAB is set
inline constexpr UINTN DivisorLow = 0;         // DLL
inline constexpr UINTN DivisorHigh = 1;        // DLM (IER while DLAB is clear)
inline constexpr UINTN InterruptIdentity = 2;  // IIR on read
inline constexpr UINTN FifoControl = 2;        // FCR on write
inline constexpr UINTN LineControl = 3;        // LCR
inline constexpr UINTN ModemControl = 4;       // MCR
inline constexpr UINTN LineStatus = 5;         // LSR
inline constexpr UINTN ModemStatus = 6;        // MSR

inline constexpr UINT8 DivisorLatchAccess = 0x80;  // LCR bit 7
inline constexpr UINT8 LineFormatMask = 0x3F;      // LCR bits 0..5: word length, stop bits, parity
inline constexpr UINT8 HoldingEmpty = 0x20;        // LSR bit 5, THRE
inline constexpr UINT8 TransmitterEmpty = 0x40;    // LSR bit 6, TEMT
inline constexpr UINT8 TransmitterIdle = HoldingEmpty | TransmitterEmpty;
inline constexpr UINT8 FifosEnabled = 0xC0;        // IIR bits 6..7
inline constexpr UINT8 FifoEnable = 0x01;          // FCR bit 0
inline constexpr UINT8 LargeFifoEnable = 0x20;     // FCR bit 5, the 64-byte FIFO
inline constexpr UINT8 FifoControlMask = FifoEnable | LargeFifoEnable;
inline constexpr UINT8 ClearToSend = 0x10;         // MSR bit 4, CTS
inline constexpr UINT8 DataSetReady = 0x20;        // MSR bit 5, DSR
inline constexpr UINT8 ModemLines = ClearToSend | DataSetReady;

inline constexpr UINTN StandardFifoSize = 16;
}  // namespace Uart16550
