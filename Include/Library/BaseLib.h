// String lengths, unaligned loads, 64-by-32 division and processor routines.
#pragma once

#include "Base.h"

UINTN WideLength(const CHAR16* String);
UINTN StrSize(const CHAR16* String);
UINTN AsciiLength(const CHAR8* String);
UINTN AsciiStrSize(const CHAR8* String);

UINT16 LoadUnaligned16(const VOID* Buffer);
UINT32 LoadUnaligned32(const VOID* Buffer);

UINT64 DivU64x32Remainder(UINT64 Dividend, UINT32 Divisor, UINT32* Remainder);

// High:Low / Divisor in one processor step, with its remainder; the caller
// guarantees High < Divisor, so that the quotient fits 32 bits.
inline UINT32 DivideStep(UINT32 High, UINT32 Low, UINT32 Divisor, UINT32& Remainder) {
  UINT32 Quotient;
  __asm__("divl %4" : "=a"(Quotient), "=d"(Remainder) : "a"(Low), "d"(High), "rm"(Divisor));
  return Quotient;
}

inline constexpr UINT32 EflagsInterruptFlag = 0x200;  // EFLAGS bit 9

UINT32 ReadFlagsRegister();
bool InterruptFlagSet();
void InterruptsOff();
void InterruptsOn();
bool MaskInterruptsSaving();
bool RestoreInterruptFlag(bool State);
UINT32 CpuIdQuery(UINT32 Index, UINT32* Eax, UINT32* Ebx, UINT32* Ecx, UINT32* Edx);

// Interrupts stay masked for the life of the object and come back exactly as
// they were, so a bracket entered with interrupts off leaves them off.
class InterruptMask {
public:
  InterruptMask() : WasEnabled(MaskInterruptsSaving()) {}
  ~InterruptMask() { RestoreInterruptFlag(WasEnabled); }
  InterruptMask(const InterruptMask&) = delete;
  InterruptMask& operator=(const InterruptMask&) = delete;

private:
  bool WasEnabled;
};
