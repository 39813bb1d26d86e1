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

// The divisors by selection, worked out here so that the image holds four
// bytes rather than the rate table and a division; every one fits DLL, so
// DLM is always written 0.
constexpr UINT8 SelectableDivisors[] = {DivisorForSelection(0x00), DivisorForSelection(0x02),
                                        DivisorForSelection(0x04), DivisorForSelection(0x06)};

UINT16 SelectedDivisor(UINT8 CmosByte) { return SelectableDivisors[(CmosByte & BaudSelectionMask) >> 1]; }

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

// The UARTs the console drives, first to last: both legacy UARTs, or in a
// memory-mapped build only the UART that was found, since the legacy port
// numbers taken as memory addresses would land in low RAM.
constexpr UINTN UartCount = Settings::UartUseMmio ? 1 : 2;

constexpr UINTN LegacyUartBase(UINTN Each) { return FirstUartBase - Each * (FirstUartBase - SecondUartBase); }
static_assert(LegacyUartBase(0) == FirstUartBase && LegacyUartBase(1) == SecondUartBase);

UINTN DrivenUartBase(UINTN Each, UINTN Discovered) {
  if constexpr (Settings::UartUseMmio) {
    return Discovered;
  } else {
    return LegacyUartBase(Each);
  }
}

// Which UARTs this call still uses, bit N for UART N: one that misses a
// wait's bound is left alone until the call returns.
using UartSet = UINT32;
constexpr UartSet EveryUart = (UartSet{1} << UartCount) - 1;

constexpr bool Includes(UartSet Uarts, UINTN Each) { return ((Uarts >> Each) & 1) != 0; }

// Every wait ends after SerialPollLimit polls, so that a UART whose status
// never changes (a stopped baud clock, a half-decoded device, a dead cable
// under flow control) cannot stop the boot. False when the bound ran out.
static_assert(SerialPollLimit >= 1, "the count-down below polls at least once");
bool WaitForLineStatus(UINTN Base, UINT8 Bits) {
  UINT32 PollsLeft = SerialPollLimit;
  do {
    if ((UartRead(Base, Uart16550::LineStatus) & Bits) == Bits) {
      return true;
    }
  } while (--PollsLeft != 0);
  return false;
}

// The UARTs of Uarts that showed Bits within the bound.
UartSet WaitForEachLineStatus(UartSet Uarts, UINTN Discovered, UINT8 Bits) {
  for (UINTN Each = 0; Each < UartCount; ++Each) {
    if (Includes(Uarts, Each) && !WaitForLineStatus(DrivenUartBase(Each, Discovered), Bits)) {
      Uarts &= ~(UartSet{1} << Each);
    }
  }
  return Uarts;
}

// Either UART may let the next byte go; when neither does within the bound,
// neither is of use for the rest of the call (the empty set).
[[maybe_unused]] UartSet WaitForAnyWritable(UartSet Uarts, UINTN Discovered) {
  for (UINT32 Polls = 0; Polls < SerialPollLimit; ++Polls) {
    for (UINTN Each = 0; Each < UartCount; ++Each) {
      if (Includes(Uarts, Each) && SerialWritable(DrivenUartBase(Each, Discovered))) {
        return Uarts;
      }
    }
  }
  return 0;
}

// IIR bits 6..7: whether the FIFOs are enabled.
[[maybe_unused]] bool FifosOn(UINTN Base) {
  return (UartRead(Base, Uart16550::InterruptIdentity) & Uart16550::FifosEnabled) != 0;
}

// One step of programming a UART; a table of them costs less code than a
// call per register.
struct RegisterWrite {
  UINT8 Index;
  UINT8 Value;
};

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

  const UINT16 Divisor = SelectedDivisor(Cmos::Read8(CmosBaudSelection));
  if (CurrentDivisor != Divisor) {
    Initialized = false;
  }
  // Matching settings with the FIFOs off would leave the UART out of every
  // later write at the FIFO test, so such a UART is programmed again. IIR is
  // read only when it decides something: reading it also clears a pending
  // transmitter-empty identification.
  if constexpr (FifosWanted) {
    if (Initialized && !FifosOn(Base)) {
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
  const RegisterWrite Programming[] = {
      {Uart16550::LineControl, Uart16550::DivisorLatchAccess},
      {Uart16550::DivisorHigh, static_cast<UINT8>(Divisor >> 8)},
      {Uart16550::DivisorLow, static_cast<UINT8>(Divisor & 0xFF)},
      {Uart16550::LineControl, WantedLineFormat},
      {Uart16550::FifoControl, 0},
      {Uart16550::FifoControl, WantedFifoControl},
      {Uart16550::ModemControl, 0},
  };
  for (const RegisterWrite& Each : Programming) {
    UartWrite(Base, Each.Index, Each.Value);
  }
}

// The FIFO test before each chunk, which answers the UARTs of Uarts that may
// take one: chunks only make sense with the FIFOs on. While the UART found
// reports its FIFOs on, its IIR speaks for every UART, so a healthy board pays
// one read per chunk. Otherwise the UART found is left out and each other UART
// answers for itself, so that one UART with its FIFOs off (a legacy UART given
// up before it was programmed, a PCI UART that earlier firmware left decoding)
// does not silence the others. A build without FIFOs never calls it.
[[maybe_unused]] UartSet WithFifosOn(UartSet Uarts, UINTN Discovered) {
  const UINTN Base = FindUartBase();
  if (Base == 0) {
    return 0;
  }
  if (FifosOn(Base)) {
    return Uarts;
  }
  for (UINTN Each = 0; Each < UartCount; ++Each) {
    const UINTN Own = DrivenUartBase(Each, Discovered);
    if (Includes(Uarts, Each) && (Own == Base || !FifosOn(Own))) {
      Uarts &= ~(UartSet{1} << Each);
    }
  }
  return Uarts;
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
  for (UINTN Each = 0; Each < UartCount; ++Each) {
    InitializeUart(DrivenUartBase(Each, Discovered));
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

  if (Length == 0) {
    const UartSet Drained = WaitForEachLineStatus(EveryUart, Discovered, Uart16550::TransmitterIdle);
    if constexpr (Settings::UartHardwareFlowControl) {
      for (UINTN Each = 0; Each < UartCount; ++Each) {
        if (Includes(Drained, Each)) {
          WaitForAnyWritable(UartSet{1} << Each, Discovered);
        }
      }
    }
    return 0;
  }

  // Earlier chunks are already on the wire, so a stop reports them as sent
  // (a caller that retried on 0 would send them twice). A UART given up
  // along the way does not stop the other one.
  UartSet Uarts = EveryUart;
  UINTN Sent = 0;
  while (Sent < Length) {
    if constexpr (FifosWanted) {
      Uarts = WithFifosOn(Uarts, Discovered);
      if (Uarts == 0) {
        return Sent;
      }
    }
    Uarts = WaitForEachLineStatus(Uarts, Discovered, Uart16550::TransmitterEmpty);
    if (Uarts == 0) {
      return Sent;
    }
    const UINTN ChunkEnd = Length - Sent > ChunkSize() ? Sent + ChunkSize() : Length;
    for (; Sent < ChunkEnd; ++Sent) {
      // Without flow control a UART that has drained always may take a byte.
      if constexpr (Settings::UartHardwareFlowControl) {
        Uarts = WaitForAnyWritable(Uarts, Discovered);
        if (Uarts == 0) {
          return Sent;
        }
      }
      for (UINTN Each = 0; Each < UartCount; ++Each) {
        if (Includes(Uarts, Each)) {
          UartWrite(DrivenUartBase(Each, Discovered), Uart16550::TransmitHolding, Buffer[Sent]);
        }
      }
    }
  }
  return Sent;
}
