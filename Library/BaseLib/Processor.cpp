// The interrupt flag and CPUID, as routines over the instruction seam.
#include "Instructions.h"
#include "Library/BaseLib.h"

UINT32 ReadFlagsRegister() { return Cpu::ReadEflags(); }

bool InterruptFlagSet() { return (ReadFlagsRegister() & EflagsInterruptFlag) != 0; }

void InterruptsOff() { Cpu::DisableInterrupts(); }

void InterruptsOn() { Cpu::EnableInterrupts(); }

bool MaskInterruptsSaving() {
  const bool WasEnabled = InterruptFlagSet();
  InterruptsOff();
  return WasEnabled;
}

bool RestoreInterruptFlag(bool State) {
  if (State) {
    InterruptsOn();
  } else {
    InterruptsOff();
  }
  return State;
}

UINT32 CpuIdQuery(UINT32 Index, UINT32* Eax, UINT32* Ebx, UINT32* Ecx, UINT32* Edx) {
  UINT32 Registers[4];
  Cpu::CpuId(Index, Registers[0], Registers[1], Registers[2], Registers[3]);
  if (Eax != nullptr) {
    *Eax = Registers[0];
  }
  if (Ebx != nullptr) {
    *Ebx = Registers[1];
  }
  if (Ecx != nullptr) {
    *Ecx = Registers[2];
  }
  if (Edx != nullptr) {
    *Edx = Registers[3];
  }
  return Index;
}
