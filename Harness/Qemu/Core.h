// What the assembly glue of Start.cpp shares with the rest of the PEI core.
#pragma once

#include "Pi/PeiServices.h"

// What the callee-saved registers, the stack pointer and EFLAGS held when the
// module's entry point returned; HarnessStack is the glue's own saved ESP.
struct ModuleCallState {
  UINT32 HarnessStack;
  UINT32 Ebx;
  UINT32 Esi;
  UINT32 Edi;
  UINT32 Ebp;
  UINT32 Esp;
  UINT32 Eflags;
};
static_assert(sizeof(ModuleCallState) == 28, "Start.cpp addresses the fields by offset");

// The values the glue loads into the callee-saved registers before the call.
inline constexpr UINT32 EbxMarker = 0xB0B0B0B0;
inline constexpr UINT32 EsiMarker = 0x51515151;
inline constexpr UINT32 EdiMarker = 0xD1D1D1D1;
inline constexpr UINT32 EbpMarker = 0xEBEBEBEB;

inline constexpr UINT32 ExceptionVectors = 22;  // 0..21, the architectural faults and traps
inline constexpr UINT32 BreakpointVector = 3;

extern "C" {
extern ModuleCallState ModuleCall;
extern UINT8 CoreStack[16384];
extern UINT8 BreakpointStack[4096];
extern UINT32 BreakpointInterruptedStack;
extern UINT32 FaultDepth;  // exceptions entered and not yet ended by a report
extern const UINT32 ExceptionEntries[ExceptionVectors];
void BreakpointEntry();
EFI_STATUS CallModuleEntry(UINT32 Entry, EFI_PEI_FILE_HANDLE FileHandle, const EFI_PEI_SERVICES** PeiServices,
                           UINT32 StackTop);
[[noreturn]] void CoreMain();
// Ends a run on a machine whose memory (RamTop, the first address past it)
// does not reach CoreBssEnd; it runs on a stack below 1 MiB and writes
// nothing above.
[[noreturn]] void RefuseMemory(UINT32 RamTop);
extern UINT8 CoreBssEnd[];
}
