// The GDT with two task state segments, and the double-fault task.
#include "TaskState.h"

#include "Interrupts.h"
#include "ModuleStack.h"
#include "Report.h"

namespace {
constexpr UINT16 CodeSelector = 0x08;
constexpr UINT16 DataSelector = 0x10;
constexpr UINT16 MainTaskSelector = 0x18;
constexpr UINT8 CodeAccess = 0x9B;       // present, ring 0, code, readable, accessed
constexpr UINT8 DataAccess = 0x93;       // present, ring 0, data, writable, accessed
constexpr UINT8 TaskStateAccess = 0x89;  // present, ring 0, 32-bit TSS, available
constexpr UINT8 PageGranular32 = 0xC;    // 4 KiB granularity, 32-bit
constexpr UINT32 EflagsReserved = 0x2;

struct TaskStateSegment {
  UINT32 Link, Esp0, Ss0, Esp1, Ss1, Esp2, Ss2, Cr3, Eip, Eflags;
  UINT32 Eax, Ecx, Edx, Ebx, Esp, Ebp, Esi, Edi;
  UINT32 Es, Cs, Ss, Ds, Fs, Gs, Ldt;
  UINT16 Trap, IoMapBase;
};
static_assert(sizeof(TaskStateSegment) == 104);

struct __attribute__((packed)) TablePointer {
  UINT16 Limit;
  UINT32 Base;
};

constexpr UINT64 Descriptor(UINT32 Base, UINT32 Limit, UINT8 Access, UINT8 Flags) {
  return (Limit & 0xFFFF) | (static_cast<UINT64>(Base & 0xFFFFFF) << 16) | (static_cast<UINT64>(Access) << 40) |
         (static_cast<UINT64>((Limit >> 16) & 0xF) << 48) | (static_cast<UINT64>(Flags & 0xF) << 52) |
         (static_cast<UINT64>(Base >> 24) << 56);
}
static_assert(Descriptor(0, 0xFFFFF, CodeAccess, PageGranular32) == 0x00CF9B000000FFFFull);

alignas(8) UINT64 Gdt[5];
TaskStateSegment MainTask;
TaskStateSegment DoubleFaultTask;
alignas(16) UINT8 DoubleFaultStack[4096];

// Runs as its own task: the faulting task's registers are in MainTask.
[[noreturn]] void OnDoubleFault() {
  UINT32 FaultAddress = 0;
  __asm__ __volatile__("mov %%cr2, %0" : "=r"(FaultAddress));
  if (ModuleStack::InGuardPage(MainTask.Esp) || ModuleStack::InGuardPage(FaultAddress)) {
    Report::Text("fault: stack overflow into the guard page\n");
  } else {
    Report::Text("fault: exception 8 (double fault)\n");
  }
  Report::Text("info: fault at instruction ");
  DescribeAddress(MainTask.Eip);
  Report::Text(", stack pointer ");
  Report::Hex(MainTask.Esp, 8);
  Report::Text(", last page fault address ");
  DescribeAddress(FaultAddress);
  Report::Text("\ntraps: ");
  Report::Decimal(BreakpointCount());
  Report::Text("\n");
  Finish(false);
}
}  // namespace

void InstallTaskStates() {
  Gdt[0] = 0;
  Gdt[1] = Descriptor(0, 0xFFFFF, CodeAccess, PageGranular32);
  Gdt[2] = Descriptor(0, 0xFFFFF, DataAccess, PageGranular32);
  Gdt[3] = Descriptor(reinterpret_cast<UINT32>(&MainTask), sizeof(TaskStateSegment) - 1, TaskStateAccess, 0);
  Gdt[4] = Descriptor(reinterpret_cast<UINT32>(&DoubleFaultTask), sizeof(TaskStateSegment) - 1, TaskStateAccess, 0);
  MainTask.IoMapBase = sizeof(TaskStateSegment);
  DoubleFaultTask.IoMapBase = sizeof(TaskStateSegment);
  const TablePointer Pointer = {sizeof(Gdt) - 1, reinterpret_cast<UINT32>(Gdt)};
  // The selectors keep their meaning, so the segment registers stay valid.
  __asm__ __volatile__("lgdt %0\n\tltr %w1" : : "m"(Pointer), "r"(MainTaskSelector) : "memory");
}

void ArmDoubleFaultTask() {
  UINT32 Cr3;
  __asm__ __volatile__("mov %%cr3, %0" : "=r"(Cr3));
  DoubleFaultTask.Cr3 = Cr3;
  DoubleFaultTask.Eip = reinterpret_cast<UINT32>(&OnDoubleFault);
  DoubleFaultTask.Eflags = EflagsReserved;
  DoubleFaultTask.Esp = reinterpret_cast<UINT32>(DoubleFaultStack + sizeof(DoubleFaultStack));
  DoubleFaultTask.Cs = CodeSelector;
  DoubleFaultTask.Ss = DoubleFaultTask.Ds = DoubleFaultTask.Es = DoubleFaultTask.Fs = DoubleFaultTask.Gs = DataSelector;
}
