// The instruction seam of the host build: each instruction becomes a bus cycle
// or a processor operation of the current simulated board.
#include "Instructions.h"

#include "Processor.h"

namespace Cpu {
UINT8 In8(UINT16 Port) { return static_cast<UINT8>(Sim::Processor::Current().PortIn(Port, 1)); }
UINT16 In16(UINT16 Port) { return static_cast<UINT16>(Sim::Processor::Current().PortIn(Port, 2)); }
UINT32 In32(UINT16 Port) { return Sim::Processor::Current().PortIn(Port, 4); }
void Out8(UINT16 Port, UINT8 Value) { Sim::Processor::Current().PortOut(Port, 1, Value); }
void Out16(UINT16 Port, UINT16 Value) { Sim::Processor::Current().PortOut(Port, 2, Value); }
void Out32(UINT16 Port, UINT32 Value) { Sim::Processor::Current().PortOut(Port, 4, Value); }
UINT8 Load8(const volatile UINT8* Address) { return Sim::Processor::Current().MemoryIn(Address); }
void Store8(volatile UINT8* Address, UINT8 Value) { Sim::Processor::Current().MemoryOut(Address, Value); }

UINT32 ReadEflags() {
  // Bit 1 is always set on the processor.
  return 0x2u | (Sim::Processor::Current().InterruptFlag ? 0x200u : 0u);
}

void DisableInterrupts() { Sim::Processor::Current().SetInterruptFlag(false); }
void EnableInterrupts() { Sim::Processor::Current().SetInterruptFlag(true); }

void CpuId(UINT32 Leaf, UINT32& Eax, UINT32& Ebx, UINT32& Ecx, UINT32& Edx) {
  Sim::Processor::Current().CpuId(Leaf, Eax, Ebx, Ecx, Edx);
}

void Int3() { Sim::Processor::Current().Int3(); }
void Pause() {}
}  // namespace Cpu
