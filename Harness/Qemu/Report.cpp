// The report channel and the end of the run.
#include "Report.h"

#include "Instructions.h"

namespace {
constexpr UINT16 DebugConsolePort = 0xE9;
constexpr UINT16 Com1Data = 0x3F8;  // the transmit register, usable in the UART's reset state
constexpr UINT8 PassCode = 0x21;  // QEMU exits with 67
constexpr CHAR8 Digits[] = "0123456789ABCDEF";

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

void Both(const CHAR8* Text) {
  for (const CHAR8* Character = Text; *Character != 0; ++Character) {
    if (*Character == '\n') {
      Cpu::Out8(Com1Data, '\r');
    }
    Cpu::Out8(Com1Data, static_cast<UINT8>(*Character));
  }
  Report::Text(Text);
}
}  // namespace Report

void Finish(bool Passed) {
  Report::Text(Passed ? "result: pass\n" : "result: fail\n");
  Cpu::Out8(DebugExitPort, Passed ? PassCode : FailCode);
  // Without the exit device (a person booting by hand) the machine just stops.
  for (;;) {
    Cpu::DisableInterrupts();
    __asm__ __volatile__("hlt");
  }
}

void FinishAtOnce() {
  Report::Text("result: fail\n");
  Cpu::Out8(DebugExitPort, FailCode);
  for (;;) {
    Cpu::DisableInterrupts();
    __asm__ __volatile__("hlt");
  }
}
