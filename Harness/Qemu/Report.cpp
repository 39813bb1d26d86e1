// The report channel and the end of the run.
#include "Report.h"

#include "Instructions.h"
#include "Platform.h"

namespace {
constexpr UINT16 DebugConsolePort = 0xE9;
constexpr UINT16 Com1Data = 0x3F8;  // the transmit register
constexpr UINT16 Com1LineControl = 0x3FB;
constexpr UINT16 Com1LineStatus = 0x3FD;
constexpr UINT8 TransmitHoldingEmpty = 0x20;
constexpr UINT32 TransmitPolls = 100000;  // far beyond one character at 115200 baud
constexpr UINT8 PassCode = 0x21;  // QEMU exits with 67
constexpr CHAR8 Digits[] = "0123456789ABCDEF";
constexpr UINT16 BochsShutdownPort = 0x8900;

bool MidLine;

void Put(CHAR8 Character) {
  Cpu::Out8(DebugConsolePort, static_cast<UINT8>(Character));
  MidLine = Character != '\n';
}
}  // namespace

namespace Report {
void Text(const CHAR8* Text) {
  while (*Text != 0) {
    Put(*Text++);
  }
}

void Hex(UINT32 Value, UINT32 Digits) {
  for (UINT32 Index = Digits; Index-- > 0;) {
    Put(::Digits[(Value >> (4 * Index)) & 0xF]);
  }
}

void Decimal(UINT32 Value) {
  CHAR8 Reversed[10];
  UINT32 Count = 0;
  do {
    Reversed[Count++] = ::Digits[Value % 10];
    Value /= 10;
  } while (Value != 0);
  while (Count-- > 0) {
    Put(Reversed[Count]);
  }
}

void HexField(const CHAR8* Name, UINT32 Value, UINT32 Digits) {
  Text(Name);
  Hex(Value, Digits);
}

void DecimalField(const CHAR8* Name, UINT32 Value) {
  Text(Name);
  Decimal(Value);
}

void Quoted(const CHAR8* Source, UINT32 Limit) {
  Put('"');
  for (UINT32 Index = 0; Index < Limit && Source[Index] != 0; ++Index) {
    const UINT8 Character = static_cast<UINT8>(Source[Index]);
    if (Character >= 0x20 && Character < 0x7F && Character != '"' && Character != '\\') {
      Put(static_cast<CHAR8>(Character));
    } else {
      Text("\\x");
      Hex(Character, 2);
    }
  }
  Put('"');
}
void Guid(const EFI_GUID& Guid) {
  Hex(Guid.Data1, 8);
  Text("-");
  Hex(Guid.Data2, 4);
  Text("-");
  Hex(Guid.Data3, 4);
  Text("-");
  for (UINT32 Index = 0; Index < 8; ++Index) {
    if (Index == 2) {
      Text("-");
    }
    Hex(Guid.Data4[Index], 2);
  }
}

void EndLine() {
  if (MidLine) {
    Put('\n');
  }
}

// Every caller ends the run, so COM1 may be set up for the person reading it:
// in a 16550's reset state the line sends 5-bit characters (LCR 00), and a
// byte written before the holding register empties replaces the one waiting.
// A UART that models either (Bochs does) would garble the message otherwise.
void SendToCom1(UINT8 Byte) {
  for (UINT32 Poll = 0; Poll < TransmitPolls && (Cpu::In8(Com1LineStatus) & TransmitHoldingEmpty) == 0; ++Poll) {
  }
  Cpu::Out8(Com1Data, Byte);
}

// No flag in memory: the memory refusal runs before the core's data exists.
void Both(const CHAR8* Text) {
  constexpr UINT8 LineControl8N1 = 0x03;
  if (Cpu::In8(Com1LineControl) != LineControl8N1) {
    constexpr UINT16 Divisor115200 = 1;
    constexpr UINT8 FifoEnable = 0x01;
    constexpr UINT8 DtrRts = 0x03;
    Uart::Program(Uart::Com1, LineControl8N1, Divisor115200, FifoEnable, DtrRts);
  }
  for (const CHAR8* Character = Text; *Character != 0; ++Character) {
    if (*Character == '\n') {
      SendToCom1('\r');
    }
    SendToCom1(static_cast<UINT8>(*Character));
  }
  Report::Text(Text);
}
}  // namespace Report

// Bochs has no exit device; its unmapped-port device ends the simulation on
// this word. QEMU has nothing at the port and has exited already.
extern "C" void EndBochsSimulation() {
  // Bochs sends at the programmed baud rate: what still waits in a UART's
  // FIFO would be lost with the machine.
  constexpr UINT8 TransmitterEmpty = 0x40;
  constexpr UINT32 DrainPolls = 1000000;  // 16 characters at 300 baud and more
  constexpr UINT16 Bases[] = {Uart::Com1, Uart::Com2};
  for (const UINT16 Base : Bases) {
    for (UINT32 Poll = 0; Poll < DrainPolls && (Cpu::In8(static_cast<UINT16>(Base + 5)) & TransmitterEmpty) == 0;
         ++Poll) {
    }
  }
  for (const CHAR8* Character = "Shutdown"; *Character != 0; ++Character) {
    Cpu::Out8(BochsShutdownPort, static_cast<UINT8>(*Character));
  }
}

void Finish(bool Passed) {
  Report::Text(Passed ? "result: pass\n" : "result: fail\n");
  Cpu::Out8(DebugExitPort, Passed ? PassCode : FailCode);
  EndBochsSimulation();
  // Without the exit device (a person booting by hand) the machine just stops.
  for (;;) {
    Cpu::DisableInterrupts();
    __asm__ __volatile__("hlt");
  }
}

void FinishAtOnce() {
  Report::Text("result: fail\n");
  Cpu::Out8(DebugExitPort, FailCode);
  EndBochsSimulation();
  for (;;) {
    Cpu::DisableInterrupts();
    __asm__ __volatile__("hlt");
  }
}
