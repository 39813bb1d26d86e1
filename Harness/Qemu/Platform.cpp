// CMOS, 16550 and PCI configuration access for the harness.
#include "Platform.h"

#include "Instructions.h"

namespace {
constexpr UINT16 CmosIndexPort = 0x70;
constexpr UINT16 CmosDataPort = 0x71;

// 16550 registers by offset and the bits the harness uses.
constexpr UINT16 Data = 0;
constexpr UINT16 InterruptEnable = 1;
constexpr UINT16 InterruptIdentify = 2;  // FIFO control when written
constexpr UINT16 LineControl = 3;
constexpr UINT16 ModemControl = 4;
constexpr UINT16 LineStatus = 5;
constexpr UINT16 Scratch = 7;
constexpr UINT8 DivisorLatchAccess = 0x80;

constexpr UINT16 ConfigAddressPort = 0xCF8;
constexpr UINT16 ConfigDataPort = 0xCFC;

UINT16 ConfigData(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  Cpu::Out32(ConfigAddressPort, Pci::Address(Bus, Device, Function, Register));
  return static_cast<UINT16>(ConfigDataPort + (Register & 3));
}
}  // namespace

namespace Cmos {
UINT8 Read(UINT8 Index) {
  Cpu::Out8(CmosIndexPort, Index);
  return Cpu::In8(CmosDataPort);
}

void Write(UINT8 Index, UINT8 Value) {
  Cpu::Out8(CmosIndexPort, Index);
  Cpu::Out8(CmosDataPort, Value);
}
}  // namespace Cmos

namespace Uart {
void Program(UINT16 Base, UINT8 LineControlValue, UINT16 Divisor, UINT8 FifoControl, UINT8 ModemControlValue) {
  Cpu::Out8(Base + LineControl, DivisorLatchAccess);
  Cpu::Out8(Base + Data, static_cast<UINT8>(Divisor));
  Cpu::Out8(Base + InterruptEnable, static_cast<UINT8>(Divisor >> 8));
  Cpu::Out8(Base + LineControl, LineControlValue);
  Cpu::Out8(Base + InterruptIdentify, FifoControl);
  Cpu::Out8(Base + ModemControl, ModemControlValue);
}

Registers Read(UINT16 Base) {
  Registers Result = {};
  Result.Lcr = Cpu::In8(Base + LineControl);
  Cpu::Out8(Base + LineControl, Result.Lcr | DivisorLatchAccess);
  Result.Divisor = static_cast<UINT16>(Cpu::In8(Base + Data) | (Cpu::In8(Base + InterruptEnable) << 8));
  Cpu::Out8(Base + LineControl, Result.Lcr);
  Result.Ier = Cpu::In8(Base + InterruptEnable);
  Result.Iir = Cpu::In8(Base + InterruptIdentify);
  Result.Mcr = Cpu::In8(Base + ModemControl);
  Result.Lsr = Cpu::In8(Base + LineStatus);
  Result.Scr = Cpu::In8(Base + Scratch);
  return Result;
}
}  // namespace Uart

namespace Pci {
UINT32 Read32(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  return Cpu::In32(ConfigData(Bus, Device, Function, Register));
}

UINT16 Read16(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  return Cpu::In16(ConfigData(Bus, Device, Function, Register));
}

UINT8 Read8(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  return Cpu::In8(ConfigData(Bus, Device, Function, Register));
}

void Write32(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register, UINT32 Value) {
  Cpu::Out32(ConfigData(Bus, Device, Function, Register), Value);
}

void Write16(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register, UINT16 Value) {
  Cpu::Out16(ConfigData(Bus, Device, Function, Register), Value);
}

void Write8(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register, UINT8 Value) {
  Cpu::Out8(ConfigData(Bus, Device, Function, Register), Value);
}
}  // namespace Pci
