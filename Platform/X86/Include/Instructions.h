// The machine instructions the module needs, as inline assembly for the real
// processor. Header-only, so a port access in the image is the instruction itself.
#pragma once

#include "Base.h"

namespace Cpu {
inline UINT8 In8(UINT16 Port) {
  UINT8 Value;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

inline UINT16 In16(UINT16 Port) {
  UINT16 Value;
  __asm__ __volatile__("inw %w1, %w0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

inline UINT32 In32(UINT16 Port) {
  UINT32 Value;
  __asm__ __volatile__("inl %w1, %0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

inline void Out8(UINT16 Port, UINT8 Value) { __asm__ __volatile__("outb %b0, %w1" : : "a"(Value), "Nd"(Port)); }

inline void Out16(UINT16 Port, UINT16 Value) { __asm__ __volatile__("outw %w0, %w1" : : "a"(Value), "Nd"(Port)); }

inline void Out32(UINT16 Port, UINT32 Value) { __asm__ __volatile__("outl %0, %w1" : : "a"(Value), "Nd"(Port)); }

inline UINT8 Load8(const volatile UINT8* Address) { return *Address; }

inline void Store8(volatile UINT8* Address, UINT8 Value) { *Address = Value; }

inline UINT32 ReadEflags() {
  UINT32 Flags;
  __asm__ __volatile__("pushfl\n\tpopl %0" : "=r"(Flags) : : "memory");
  return Flags;
}

inline void DisableInterrupts() { __asm__ __volatile__("cli" : : : "memory"); }

inline void EnableInterrupts() { __asm__ __volatile__("sti" : : : "memory"); }

// ECX is left as it is: the module asks only for leaves without sub-leaves.
inline void CpuId(UINT32 Leaf, UINT32& Eax, UINT32& Ebx, UINT32& Ecx, UINT32& Edx) {
  __asm__ __volatile__("cpuid" : "=a"(Eax), "=b"(Ebx), "=c"(Ecx), "=d"(Edx) : "a"(Leaf));
}

inline void Int3() { __asm__ __volatile__("int3" : : : "memory"); }

inline void Pause() { __asm__ __volatile__("pause" : : : "memory"); }
}  // namespace Cpu
