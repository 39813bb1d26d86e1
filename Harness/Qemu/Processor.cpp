// The processor check: CPUID's presence through EFLAGS.ID, then leaf 1.
#include "Processor.h"

#include "Instructions.h"

namespace {
constexpr UINT32 EflagsId = 1u << 21;
constexpr UINT32 CmovFeature = 1u << 15;  // CPUID leaf 1, EDX

// An i486 without CPUID keeps EFLAGS.ID at its reset value whatever is
// written to it.
bool HasCpuId() {
  UINT32 Before;
  UINT32 After;
  __asm__ __volatile__(
      "pushfl\n\t"
      "popl %0\n\t"
      "movl %0, %1\n\t"
      "xorl %2, %1\n\t"
      "pushl %1\n\t"
      "popfl\n\t"
      "pushfl\n\t"
      "popl %1\n\t"
      "pushl %0\n\t"
      "popfl"
      : "=&r"(Before), "=&r"(After)
      : "i"(EflagsId)
      : "cc");
  return ((Before ^ After) & EflagsId) != 0;
}
}  // namespace

namespace Processor {
bool HasCmov() {
  if (!HasCpuId()) {
    return false;
  }
  UINT32 Eax;
  UINT32 Ebx;
  UINT32 Ecx;
  UINT32 Edx;
  Cpu::CpuId(0, Eax, Ebx, Ecx, Edx);
  if (Eax < 1) {
    return false;
  }
  Cpu::CpuId(1, Eax, Ebx, Ecx, Edx);
  return (Edx & CmovFeature) != 0;
}
}  // namespace Processor
