// The harness's own report channel: QEMU's debug console at port 0xE9.
#pragma once

#include "Base.h"

namespace Report {
void Text(const CHAR8* Text);
void Hex(UINT32 Value, UINT32 Digits);
void Decimal(UINT32 Value);
// " name=value" pieces of a report line.
void HexField(const CHAR8* Name, UINT32 Value, UINT32 Digits);
void DecimalField(const CHAR8* Name, UINT32 Value);
// Text read from the module's memory: printable characters as they are,
// anything else as \xNN, at most Limit characters.
void Quoted(const CHAR8* Source, UINT32 Limit);
void Guid(const EFI_GUID& Guid);
// Ends the line that a report cut short, if any.
void EndLine();
// Text for the report channel and for the person at COM1 alike.
void Both(const CHAR8* Text);
}  // namespace Report

inline constexpr UINT16 DebugExitPort = 0xF4;
inline constexpr UINT8 FailCode = 0x22;  // QEMU exits with 69

// Ends the run through isa-debug-exit with the pass or fail code; QEMU's exit
// status is then (code << 1) | 1, which a triple fault (status 0) cannot fake.
[[noreturn]] void Finish(bool Passed);
// The fail code and nothing else: for a run whose report itself faulted.
extern "C" [[noreturn]] void FinishAtOnce();
// Writes Bochs's shutdown word to its shutdown port (nothing there on QEMU).
extern "C" void EndBochsSimulation();
