// Byte-wide memory-mapped register access, fenced by compiler barriers.
#include "Instructions.h"
#include "Library/IoLib.h"

// Out of line and with a memory clobber, so the compiler can neither drop the
// call nor move a register access across it.
__attribute__((noinline)) void AccessBarrier() { __asm__ __volatile__("" : : : "memory"); }

UINT8 MmioIn8(UINTN Address) {
  AccessBarrier();
  const UINT8 Value = Cpu::Load8(reinterpret_cast<const volatile UINT8*>(Address));
  AccessBarrier();
  return Value;
}

UINT8 MmioOut8(UINTN Address, UINT8 Value) {
  AccessBarrier();
  Cpu::Store8(reinterpret_cast<volatile UINT8*>(Address), Value);
  AccessBarrier();
  return Value;
}
