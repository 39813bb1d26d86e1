// The harness's own access to QEMU's devices (CMOS, the two 16550s, PCI
// configuration space), used to set up a scenario and to read the outcome
// back. It is deliberately independent of the module's libraries.
#pragma once

#include "Base.h"

namespace Cmos {
inline constexpr UINT8 BaudSelect = 0x6F;
inline constexpr UINT8 LevelMask = 0x7A;  // 0x7A..0x7D, least significant first

UINT8 Read(UINT8 Index);
void Write(UINT8 Index, UINT8 Value);
}  // namespace Cmos

namespace Uart {
inline constexpr UINT16 Com1 = 0x3F8;
inline constexpr UINT16 Com2 = 0x2F8;

struct Registers {
  UINT8 Ier;
  UINT8 Iir;
  UINT8 Lcr;
  UINT8 Mcr;
  UINT8 Lsr;
  UINT8 Scr;
  UINT16 Divisor;
};

// Programs the line as an earlier boot stage would: LCR, divisor latch, FIFO
// control and modem control.
void Program(UINT16 Base, UINT8 LineControl, UINT16 Divisor, UINT8 FifoControl, UINT8 ModemControl);
// Reads the registers; the divisor latch is opened and closed again, so LCR
// ends as it was.
Registers Read(UINT16 Base);
}  // namespace Uart

namespace Pci {
// Mechanism-1 address of a standard register.
constexpr UINT32 Address(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  return 0x80000000u | (Bus << 16) | (Device << 11) | (Function << 8) | (Register & 0xFC);
}
static_assert(Address(1, 0, 0, 0x10) == 0x80010010);

inline constexpr UINT8 Command = 0x04;
inline constexpr UINT8 Bar0 = 0x10;
inline constexpr UINT8 SecondaryBus = 0x19;
inline constexpr UINT8 SubordinateBus = 0x1A;
inline constexpr UINT8 IoBase = 0x1C;
inline constexpr UINT8 IoLimit = 0x1D;
inline constexpr UINT16 IoSpaceEnable = 0x0001;

UINT32 Read32(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register);
UINT16 Read16(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register);
UINT8 Read8(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register);
void Write32(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register, UINT32 Value);
void Write16(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register, UINT16 Value);
void Write8(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register, UINT8 Value);
}  // namespace Pci
