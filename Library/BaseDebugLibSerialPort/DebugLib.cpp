// Debug reporting: the run-time level mask, the trap and the halt routine.
#include "Instructions.h"
#include "Library/DebugLib.h"
#include "Library/IoLib.h"

namespace {
constexpr UINT16 CmosIndexPort = 0x70;
constexpr UINT16 CmosDataPort = 0x71;
constexpr UINT8 CmosErrorLevelByte = 0x7A;  // 0x7A..0x7D, least significant first
constexpr UINT16 HaltCodePort = 0xE8;
constexpr UINT32 HaltEnterCode = 0x4C6F6F70;  // "Loop"
constexpr UINT32 HaltLeaveCode = 0x4C456E64;  // "LEnd"
}  // namespace

UINT32 CmosErrorLevel() {
  UINT32 Mask = 0;
  for (UINT8 Index = 0; Index < 4; ++Index) {
    PortOut8(CmosIndexPort, static_cast<UINT8>(CmosErrorLevelByte + Index));
    Mask |= static_cast<UINT32>(PortIn8(CmosDataPort)) << (8 * Index);
  }
  return Mask;
}

void DebugMessage(UINT32, const CHAR8*, ...) {}

void ReportAssertion(const CHAR8*, UINTN, const CHAR8*) {
  if constexpr ((Settings::DebugControlMask & DebugBreakpointOnAssert) != 0) {
    Breakpoint();
  } else if constexpr ((Settings::DebugControlMask & DebugDeadloopOnAssert) != 0) {
    HaltLoop();
  }
}

void Breakpoint() { Cpu::Int3(); }

void HaltLoop() {
  PortOut32(HaltCodePort, HaltEnterCode);
  // Only a debugger that sets the flag ends the spin.
  volatile UINT8 Released = 0;
  while (Cpu::Load8(&Released) == 0) {
    Cpu::Pause();
  }
  PortOut32(HaltCodePort, HaltLeaveCode);
}
