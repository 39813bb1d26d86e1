// The machine instructions the module needs, answered by the simulated board.
#pragma once

#include "Base.h"

namespace Cpu {
UINT8 In8(UINT16 Port);
UINT16 In16(UINT16 Port);
UINT32 In32(UINT16 Port);
void Out8(UINT16 Port, UINT8 Value);
void Out16(UINT16 Port, UINT16 Value);
void Out32(UINT16 Port, UINT32 Value);
UINT8 Load8(const volatile UINT8* Address);
void Store8(volatile UINT8* Address, UINT8 Value);
UINT32 ReadEflags();
void DisableInterrupts();
void EnableInterrupts();
void CpuId(UINT32 Leaf, UINT32& Eax, UINT32& Ebx, UINT32& Ecx, UINT32& Edx);
void Int3();
void Pause();
}  // namespace Cpu
