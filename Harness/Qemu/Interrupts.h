// The interrupt descriptor table: int3 is a debugger that counts and resumes;
// any other exception is reported with its address and ends the run.
#pragma once

#include "PeLoader.h"

// Registers as the exception stubs of Start.cpp leave them.
struct ExceptionFrame {
  UINT32 Edi, Esi, Ebp, Esp, Ebx, Edx, Ecx, Eax;  // pushal
  UINT32 Vector;
  UINT32 ErrorCode;  // 0 where the processor pushes none
  UINT32 Eip, Cs, Eflags;
};

void InstallInterruptTable();
// Faults are described relative to this image once it is loaded.
void WatchImage(const LoadedImage* Image);

UINT32 BreakpointCount();
inline constexpr UINT32 RecordedBreakpoints = 8;
UINT32 BreakpointReturnAddress(UINT32 Index);  // the first RecordedBreakpoints traps

extern "C" void OnBreakpoint(UINT32 InterruptedStack);
extern "C" [[noreturn]] void OnException(const ExceptionFrame* Frame);
// A fault raised while OnException reported OuterFault, the first one.
extern "C" const ExceptionFrame* OuterFault;
extern "C" [[noreturn]] void OnFaultInFaultReport(const ExceptionFrame* Frame);

// Prints where Address lies: image RVA and section, or the harness.
void DescribeAddress(UINT32 Address);
