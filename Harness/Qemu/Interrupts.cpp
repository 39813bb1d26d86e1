// IDT set-up, the breakpoint debugger and the fault report.
#include "Interrupts.h"

#include "Instructions.h"
#include "Core.h"
#include "ModuleStack.h"
#include "Report.h"
#include "TaskState.h"

extern "C" {
UINT8 BreakpointStack[4096];
UINT32 BreakpointInterruptedStack;
UINT32 FaultDepth;
const ExceptionFrame* OuterFault;
}

namespace {
constexpr UINT16 CoreCodeSelector = 0x08;
constexpr UINT8 InterruptGate = 0x8E;  // present, ring 0, 32-bit, interrupts masked
constexpr UINT8 TrapGate = 0x8F;       // present, ring 0, 32-bit, interrupt flag kept
constexpr UINT8 TaskGate = 0x85;       // present, ring 0, switches to the task in Selector
constexpr UINT32 DoubleFaultVector = 8;
constexpr UINT32 PageFaultVector = 14;
constexpr UINT32 PageFaultPresent = 0x1;
constexpr UINT32 PageFaultWrite = 0x2;
constexpr UINT16 MasterPicData = 0x21;
constexpr UINT16 SlavePicData = 0xA1;
constexpr UINT8 AllIrqsMasked = 0xFF;

struct Gate {
  UINT16 OffsetLow;
  UINT16 Selector;
  UINT8 Zero;
  UINT8 Type;
  UINT16 OffsetHigh;
};
static_assert(sizeof(Gate) == 8);

struct __attribute__((packed)) TablePointer {
  UINT16 Limit;
  UINT32 Base;
};

constexpr const CHAR8* VectorNames[ExceptionVectors] = {
    "divide error",        "debug",          "NMI",           "breakpoint",           "overflow",
    "bound range",         "invalid opcode", "no FPU",        "double fault",         "FPU segment overrun",
    "invalid TSS",         "segment not present", "stack-segment fault", "general protection", "page fault",
    "reserved",            "x87 error",      "alignment check", "machine check",      "SIMD error",
    "virtualisation",      "control protection"};

alignas(8) Gate Table[ExceptionVectors];
UINT32 Breakpoints;
UINT32 BreakpointReturns[RecordedBreakpoints];
const LoadedImage* Watched;

Gate MakeGate(UINT32 Handler, UINT8 Type) {
  return {static_cast<UINT16>(Handler), CoreCodeSelector, 0, Type, static_cast<UINT16>(Handler >> 16)};
}

void ReportVector(UINT32 Vector) {
  Report::Text("exception ");
  Report::Decimal(Vector);
  Report::Text(" (");
  Report::Text(Vector < ExceptionVectors ? VectorNames[Vector] : "unknown");
  Report::Text(")");
}

void ClassifyPageFault(UINT32 Address, UINT32 ErrorCode) {
  const bool Write = (ErrorCode & PageFaultWrite) != 0;
  Report::Text("fault: page fault: ");
  Report::Text(Write ? "write to " : "read of ");
  if (Watched != nullptr && InImage(*Watched, Address, 1)) {
    Report::Text("the read-only module image");
  } else if (Address < 4096) {
    Report::Text("the null page");
  } else if (ModuleStack::InGuardPage(Address)) {
    Report::Text("the stack guard page (stack overflow)");
  } else if ((ErrorCode & PageFaultPresent) == 0) {
    Report::Text("an unmapped page");
  } else {
    Report::Text("a protected page");
  }
  Report::Text("\n");
}
}  // namespace

void InstallInterruptTable() {
  // The BIOS leaves IRQ 0..7 on vectors 8..15, where the exceptions are; with
  // every IRQ masked, a module that enabled interrupts cannot pass a timer
  // tick off as a double fault (the run's EFLAGS check names it instead).
  Cpu::Out8(MasterPicData, AllIrqsMasked);
  Cpu::Out8(SlavePicData, AllIrqsMasked);
  for (UINT32 Vector = 0; Vector < ExceptionVectors; ++Vector) {
    Table[Vector] = MakeGate(ExceptionEntries[Vector], InterruptGate);
  }
  Table[BreakpointVector] = MakeGate(reinterpret_cast<UINT32>(&BreakpointEntry), TrapGate);
  Table[DoubleFaultVector] = {0, DoubleFaultTaskSelector, 0, TaskGate, 0};
  const TablePointer Pointer = {sizeof(Table) - 1, reinterpret_cast<UINT32>(Table)};
  __asm__ __volatile__("lidt %0" : : "m"(Pointer));
}

void WatchImage(const LoadedImage* Image) { Watched = Image; }

UINT32 BreakpointCount() { return Breakpoints; }

UINT32 BreakpointReturnAddress(UINT32 Index) { return BreakpointReturns[Index]; }

void DescribeAddress(UINT32 Address) {
  Report::Hex(Address, 8);
  if (Watched != nullptr && InImage(*Watched, Address, 1)) {
    const UINT32 Rva = Address - Watched->Address;
    Report::Text(" (image RVA ");
    Report::Hex(Rva, 8);
    Report::Text(", ");
    Report::Text(SectionOf(*Watched, Rva));
    Report::Text(")");
  } else {
    Report::Text(" (outside the image)");
  }
}

extern "C" void OnBreakpoint(UINT32 InterruptedStack) {
  // The processor's frame starts with the address after the int3.
  if (Breakpoints < RecordedBreakpoints) {
    BreakpointReturns[Breakpoints] = *reinterpret_cast<const UINT32*>(InterruptedStack);
  }
  ++Breakpoints;
}

extern "C" void OnException(const ExceptionFrame* Frame) {
  UINT32 FaultAddress = 0;
  __asm__ __volatile__("mov %%cr2, %0" : "=r"(FaultAddress));
  if (Frame->Vector == PageFaultVector) {
    ClassifyPageFault(FaultAddress, Frame->ErrorCode);
  } else {
    Report::Text("fault: ");
    ReportVector(Frame->Vector);
    Report::Text("\n");
  }
  Report::Text("info: fault at instruction ");
  DescribeAddress(Frame->Eip);
  Report::Text(", error code ");
  Report::Hex(Frame->ErrorCode, 8);
  if (Frame->Vector == PageFaultVector) {
    Report::Text(", address ");
    DescribeAddress(FaultAddress);
  }
  Report::Text("\ntraps: ");
  Report::Decimal(Breakpoints);
  Report::Text("\n");
  Finish(false);
}

extern "C" void OnFaultInFaultReport(const ExceptionFrame* Frame) {
  // Nothing of the first report is trusted any more: one line, then the end.
  Report::EndLine();
  Report::Text("fault: ");
  ReportVector(Frame->Vector);
  Report::Text(" while reporting ");
  ReportVector(OuterFault->Vector);
  Report::Text("; the run ends here\n");
  Report::HexField("info: the second at instruction ", Frame->Eip, 8);
  Report::HexField(", the first at ", OuterFault->Eip, 8);
  Report::Text("\n");
  FinishAtOnce();
}
