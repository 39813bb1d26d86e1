// SerialInit and SerialWrite against two UARTs whose status registers (LSR,
// IIR, MSR) answer from the fuzzer's bytes and, when those run out, stay
// not ready for a while longer (as many polls as the input asks, up to a few
// thousand) before they report ready. Whatever they answer: every call
// returns, SerialWrite writes nothing but UART registers and SerialInit
// nothing but UART, CMOS-index and Super I/O registers, each UART receives a
// prefix of the text, and SerialWrite returns the longest one. A UART that
// never answers costs the waits' whole bound, a fraction of a second per
// input, so giving up on one is left to the driver's unit tests.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Library/SerialPortLib.h"
#include "Processor.h"

namespace {
constexpr uint16_t UartBases[2] = {0x3F8, 0x2F8};
constexpr uint16_t InterruptIdentity = 2;
constexpr uint16_t LineStatus = 5;
constexpr uint16_t ModemStatus = 6;

[[noreturn]] void Fail(const char* What, uint32_t Detail) {
  std::fprintf(stderr, "SerialDriverFuzz: %s (0x%X)\n", What, Detail);
  std::abort();
}

struct FuzzedUart : Sim::PortDevice {
  uint16_t Base = 0;
  FuzzedDataProvider* Answers = nullptr;
  uint32_t SlowPolls = 0;  // not-ready answers left once the input is spent
  uint8_t Registers[8] = {};
  bool DivisorLatch = false;
  uint8_t Divisor[2] = {};
  std::string Sent;

  uint8_t Status(uint8_t Ready, uint8_t NotReady) {
    if (Answers->remaining_bytes() != 0) {
      return Answers->ConsumeIntegral<uint8_t>();
    }
    if (SlowPolls != 0) {
      --SlowPolls;
      return NotReady;
    }
    return Ready;
  }
  uint32_t PortRead(uint16_t Port, unsigned) override {
    const uint16_t Offset = Port - Base;
    if (Offset == LineStatus) {
      return Status(0x60, 0x00);
    }
    if (Offset == InterruptIdentity) {
      return Status(0xC1, 0x01);
    }
    if (Offset == ModemStatus) {
      return Status(0xB0, 0x20);  // not ready: DSR without CTS holds the output
    }
    if (DivisorLatch && Offset < 2) {
      return Divisor[Offset];
    }
    return Registers[Offset];
  }
  void PortWrite(uint16_t Port, unsigned, uint32_t Value) override {
    const uint16_t Offset = Port - Base;
    if (DivisorLatch && Offset < 2) {
      Divisor[Offset] = static_cast<uint8_t>(Value);
    } else if (Offset == 0) {
      Sent.push_back(static_cast<char>(Value));
    } else {
      Registers[Offset] = static_cast<uint8_t>(Value);
    }
    if (Offset == 3) {
      DivisorLatch = (Value & 0x80) != 0;
    }
  }
};

// Every port that is not a UART's: reads float high, writes are kept.
struct OtherPorts : Sim::PortDevice {
  std::vector<uint16_t> Written;
  uint32_t PortRead(uint16_t, unsigned Size) override { return Size == 1 ? 0xFF : Size == 2 ? 0xFFFF : 0xFFFFFFFF; }
  void PortWrite(uint16_t Port, unsigned, uint32_t) override { Written.push_back(Port); }
};

// One processor for the whole run, as the board's devices live on.
struct Bench {
  Sim::Processor Processor;
  OtherPorts Others;
  FuzzedUart Uarts[2];

  Bench() {
    Processor.WatchdogPolls = 0;  // the driver's own bounds end every wait
    Processor.Tracing = false;
    Processor.MapPorts(0x0000, 0xFFFF, Others);
    for (unsigned Each = 0; Each < 2; ++Each) {
      Uarts[Each].Base = UartBases[Each];
      Processor.MapPorts(UartBases[Each], UartBases[Each] + 7, Uarts[Each]);
    }
  }
};

void RequirePrefix(const std::string& Sent, const std::string& Text, size_t Returned) {
  if (Sent.size() > Returned || Text.compare(0, Sent.size(), Sent) != 0) {
    Fail("a UART received what was not the text's beginning", static_cast<uint32_t>(Sent.size()));
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static Bench* Shared = new Bench;
  Bench& Board = *Shared;
  FuzzedDataProvider Input(Data, Size);
  const uint8_t Mode = Input.ConsumeIntegral<uint8_t>();
  const uint32_t SlowPolls = Input.ConsumeIntegralInRange<uint32_t>(0, 4000);
  const std::string Text = Input.ConsumeRandomLengthString(300);
  // Each input starts from UARTs at reset, so that a finding reproduces alone.
  for (FuzzedUart& Uart : Board.Uarts) {
    Uart = FuzzedUart{};
    Uart.Answers = &Input;
    Uart.SlowPolls = SlowPolls;
  }
  Board.Uarts[0].Base = UartBases[0];
  Board.Uarts[1].Base = UartBases[1];
  Board.Others.Written.clear();

  if ((Mode & 0x10) != 0) {
    SerialInit();
    for (const uint16_t Port : Board.Others.Written) {
      if (Port != 0x70 && Port != 0x4E && Port != 0x4F) {
        Fail("SerialInit wrote a port that is neither a UART's, CMOS's index nor the Super I/O's", Port);
      }
    }
    Board.Others.Written.clear();
    for (const FuzzedUart& Uart : Board.Uarts) {
      if (!Uart.Sent.empty()) {
        Fail("SerialInit sent a character", static_cast<uint8_t>(Uart.Sent[0]));
      }
    }
  }
  const UINTN Returned = SerialWrite(reinterpret_cast<const UINT8*>(Text.data()), static_cast<UINTN>(Text.size()));
  if (!Board.Others.Written.empty()) {
    Fail("SerialWrite wrote a port that is not a UART's", Board.Others.Written.front());
  }
  if (Returned > Text.size()) {
    Fail("SerialWrite returned more than it was given", Returned);
  }
  size_t Longest = 0;
  for (const FuzzedUart& Uart : Board.Uarts) {
    RequirePrefix(Uart.Sent, Text, Returned);
    Longest = Uart.Sent.size() > Longest ? Uart.Sent.size() : Longest;
  }
  if (Longest != Returned) {
    Fail("SerialWrite's count is not what the UARTs received", Returned);
  }
  return 0;
}
