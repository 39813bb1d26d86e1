// The two-UART console: brings both 16550s up at the baud rate that CMOS
// selects and sends every byte to both in lockstep.
#include "BuildSettings.h"
#include "Library/CmosLib.h"
#include "Library/IoLib.h"
#include "Library/SerialPortLib.h"
#include "Uart16550.h"

namespace {
constexpr UINTN FirstUartBase = 0x3F8;
constexpr UINTN SecondUartBase = 0x2F8;

constexpr UINT8 CmosBaudSelection = 0x6F;
constexpr UINT8 BaudSelectionMask = 0x06;  // bits 1..2

constexpr UINT32 BaseBaudRate = 115200;  // divisor 1

constexpr UINT16 DivisorForSelection(UINT8 CmosByte) {
  return static_cast<UINT16>(BaseBaudRate / SerialBaudRates[(CmosByte & BaudSelectionMask) >> 1]);
}
static_assert(DivisorForSelection(0x00) == 1 && DivisorForSelection(0x02) == 2);
static_assert(DivisorForSelection(0x04) == 6 && DivisorForSelection(0x06) == 12);
static_assert(DivisorForSelection(0xF9) == 1 && DivisorForSelection(0xFF) == 12, "other bits are ignored");

constexpr UINT8 WantedLineFormat = Settings::UartLineControl & Uart16550::LineFormatMask;
constexpr UINT8 WantedFifoControl = Settings::UartFifoControl & Uart16550::FifoControlMask;
constexpr bool FifosWanted = (Settings::UartFifoControl & Uart16550::FifoEnable) != 0;

// Bytes that may be written between two waits for an empty transmitter: what
// the transmit FIFO holds, or one byte when the FIFOs are off.
constexpr UINTN ChunkSize() {
  if constexpr (!FifosWanted) {
    return 1;
  } else if constexpr ((Settings::UartFifoControl & Uart16550::LargeFifoEnable) != 0) {
    return Settings::UartExtendedTxFifoSize;
  } else {
    return Uart16550::StandardFifoSize;
  }
}
static_assert(ChunkSize() >= 1);

// The UARTs the console drives, first to last, and which of them this call
// still uses: one that misses a wait's bound is left alone until the call
// returns. A memory-mapped build drives only the UART that was found: the
// legacy port numbers taken as memory addresses would land in low RAM.
struct DrivenUarts {
  UINTN Base[2];
  bool Usable[2];
  UINTN Count;
};

DrivenUarts UartsToDrive(UINTN Discovered) {
  if constexpr (Settings::UartUseMmio) {
    return {{Discovered, 0}, {true, false}, 1};
  } else {
    return {{FirstUartBase, SecondUartBase}, {true, true}, 2};
  }
}

bool AnyUsable(const DrivenUarts& Uarts) {
  for (UINTN Each = 0; Each < Uarts.Count; ++Each) {
    if (Uarts.Usable[Each]) {
      return true;
    }
  }
  return false;
}

bool GivenUp(const DrivenUarts& Uarts, UINTN Base) {
  for (UINTN Each = 0; Each < Uarts.Count; ++Each) {
    if (Uarts.Base[Each] == Base) {
      return !Uarts.Usable[Each];
    }
  }
  return false;
}

// Every wait ends after SerialPollLimit polls, so that a UART whose status
// never changes (a stopped baud clock, a half-decoded device, a dead cable
// under flow control) cannot stop the boot. False when the bound ran out.
bool WaitForLineStatus(UINTN Base, UINT8 Bits) {
  for (UINT32 Polls = 0; Polls < SerialPollLimit; ++Polls) {
    if ((UartRead(Base, Uart16550::LineStatus) & Bits) == Bits) {
      return true;
    }
  }
  return false;
}

bool WaitForWritable(UINTN Base) {
  for (UINT32 Polls = 0; Polls < SerialPollLimit; ++Polls) {
    if (SerialWritable(Base)) {
      return true;
    }
  }
  return false;
}

void WaitForEachLineStatus(DrivenUarts& Uarts, UINT8 Bits) {
  for (UINTN Each = 0; Each < Uarts.Count; ++Each) {
    if (Uarts.Usable[Each] && !WaitForLineStatus(Uarts.Base[Each], Bits)) {
      Uarts.Usable[Each] = false;
    }
  }
}

// Either UART may let the next byte go; when neither does within the bound,
// neither is of use for the rest of the call.
bool WaitForAnyWritable(DrivenUarts& Uarts) {
  if (!AnyUsable(Uarts)) {
    return false;
  }
  for (UINT32 Polls = 0; Polls < SerialPollLimit; ++Polls) {
    for (UINTN Each = 0; Each < Uarts.Count; ++Each) {
      if (Uarts.Usable[Each] && SerialWritable(Uarts.Base[Each])) {
        return true;
      }
    }
  }
  for (UINTN Each = 0; Each < Uarts.Count; ++Each) {
    Uarts.Usable[Each] = false;
  }
  return false;
}

// Reprograms a UART only when its line settings, divisor or FIFOs differ from
// what is wanted, so that characters an earlier stage left in flight survive.
void InitializeUart(UINTN Base) {
  bool Initialized = (UartRead(Base, Uart16550::LineControl) & Uart16550::LineFormatMask) == WantedLineFormat;

  const UINT8 LineControl = UartRead(Base, Uart16550::LineControl);
  UartWrite(Base, Uart16550::LineControl, static_cast<UINT8>(LineControl | Uart16550::DivisorLatchAccess));
  const UINT8 DivisorHigh = UartRead(Base, Uart16550::DivisorHigh);
  const UINT8 DivisorLow = UartRead(Base, Uart16550::DivisorLow);
  const UINT16 CurrentDivisor = static_cast<UINT16>(DivisorHigh << 8 | DivisorLow);
  const UINT8 LatchedControl = UartRead(Base, Uart16550::LineControl);
  UartWrite(Base, Uart16550::LineControl, static_cast<UINT8>(LatchedControl & ~Uart16550::DivisorLatchAccess));

  const UINT16 Divisor = DivisorForSelection(Cmos::Read8(CmosBaudSelection));
  if (CurrentDivisor != Divisor) {
    Initialized = false;
  }
  // Matching settings with the FIFOs off would leave every later write
  // stopped at the FIFO test, so such a UART is programmed again.
  if constexpr (FifosWanted) {
    if ((UartRead(Base, Uart16550::InterruptIdentity) & Uart16550::FifosEnabled) == 0) {
      Initialized = false;
    }
  }
  if (Initialized) {
    return;
  }

  // Changing the divisor or the FIFOs mid-character would garble or drop it;
  // a UART that never drains is left as it is.
  if (!WaitForLineStatus(Base, Uart16550::TransmitterIdle)) {
    return;
  }
  UartWrite(Base, Uart16550::LineControl, Uart16550::DivisorLatchAccess);
  UartWrite(Base, Uart16550::DivisorHigh, static_cast<UINT8>(Divisor >> 8));
  UartWrite(Base, Uart16550::DivisorLow, static_cast<UINT8>(Divisor & 0xFF));
  UartWrite(Base, Uart16550::LineControl, WantedLineFormat);
  UartWrite(Base, Uart16550::FifoControl, 0);
  UartWrite(Base, Uart16550::FifoControl, WantedFifoControl);
  UartWrite(Base, Uart16550::ModemControl, 0);
}

// The FIFO test before each chunk: chunks only make sense with the FIFOs on.
// Once the UART found has been given up, its IIR says nothing about the
// other one, which goes on without the test.
bool FifosReady(const DrivenUarts& Uarts) {
  const UINTN Base = FindUartBase();
  if (Base == 0) {
    return false;
  }
  if (GivenUp(Uarts, Base)) {
    return true;
  }
  return (UartRead(Base, Uart16550::InterruptIdentity) & Uart16550::FifosEnabled) != 0;
}
}  // namespace

bool SerialWritable(UINTN Base) {
  if constexpr (!Settings::UartHardwareFlowControl) {
    return true;
  } else {
    const UINT8 Lines = UartRead(Base, Uart16550::ModemStatus) & Uart16550::ModemLines;
    if constexpr (Settings::UartDetectCable) {
      return Lines == Uart16550::ModemLines;
    } else {
      // Only a peer that is there (DSR) and says stop (no CTS) holds us back.
      return Lines != Uart16550::DataSetReady;
    }
  }
}

EFI_STATUS SerialInit() {
  const EFI_STATUS Status = SuperIoUartSetupStatus();
  if (EFI_ERROR(Status)) {
    return Status;
  }
  const UINTN Discovered = FindUartBase();
  if (Discovered == 0) {
    return EFI_DEVICE_ERROR;
  }
  const DrivenUarts Uarts = UartsToDrive(Discovered);
  for (UINTN Each = 0; Each < Uarts.Count; ++Each) {
    InitializeUart(Uarts.Base[Each]);
  }
  return EFI_SUCCESS;
}

UINTN SerialWrite(const UINT8* Buffer, UINTN Length) {
  if (Buffer == nullptr) {
    return 0;
  }
  const UINTN Discovered = FindUartBase();
  if (Discovered == 0) {
    return 0;
  }
  DrivenUarts Uarts = UartsToDrive(Discovered);

  if (Length == 0) {
    WaitForEachLineStatus(Uarts, Uart16550::TransmitterIdle);
    for (UINTN Each = 0; Each < Uarts.Count; ++Each) {
      if (Uarts.Usable[Each]) {
        WaitForWritable(Uarts.Base[Each]);
      }
    }
    return 0;
  }

  // Earlier chunks are already on the wire, so a stop reports them as sent.
  // A UART given up along the way does not stop the other one.
  UINTN Sent = 0;
  while (Sent < Length) {
    if constexpr (FifosWanted) {
      if (!FifosReady(Uarts)) {
        return Sent;
      }
    }
    WaitForEachLineStatus(Uarts, Uart16550::TransmitterEmpty);
    if (!AnyUsable(Uarts)) {
      return Sent;
    }
    const UINTN ChunkEnd = Length - Sent > ChunkSize() ? Sent + ChunkSize() : Length;
    for (; Sent < ChunkEnd; ++Sent) {
      if (!WaitForAnyWritable(Uarts)) {
        return Sent;
      }
      for (UINTN Each = 0; Each < Uarts.Count; ++Each) {
        if (Uarts.Usable[Each]) {
          UartWrite(Uarts.Base[Each], Uart16550::TransmitHolding, Buffer[Sent]);
        }
      }
    }
  }
  return Sent;
}
