// Debug messages and assertion reports on the serial console, gated by the
// build's control mask and the level mask that the platform keeps in CMOS.
#include "Instructions.h"
#include "Library/BaseLib.h"
#include "Library/CmosLib.h"
#include "Library/DebugLib.h"
#include "Library/HaltCodes.h"
#include "Library/IoLib.h"
#include "Library/PrintLib.h"
#include "Library/SerialPortLib.h"
#include "Pi/PeiServices.h"

namespace {
// Check sites: the line numbers are fixed report coordinates, not lines of this file.
constexpr CheckSite FormatPresent = {"Library/BaseDebugLibSerialPort/DebugLib.cpp", 79, "Format != ((void *) 0)"};

// 255 characters and the terminator; longer text is cut by the formatter.
constexpr UINTN MessageBufferSize = 256;

// A length limit below the buffer size would make the report of an overlong
// message fail its own length check and report again, without end.
static_assert(Settings::PcdMaximumAsciiStringLength == 0 || Settings::PcdMaximumAsciiStringLength >= MessageBufferSize,
              "a narrow string limit below the message buffer size makes assertion reports recurse");

constexpr UINT8 CmosErrorLevelByte = 0x7A;  // 0x7A..0x7D, least significant first

void WriteToConsole(const CHAR8* Text) {
  SerialWrite(reinterpret_cast<const UINT8*>(Text), AsciiLength(Text));
}
}  // namespace

// Brings the console up before any other code of the module can report.
EFI_STATUS SerialDebugConstructor([[maybe_unused]] EFI_PEI_FILE_HANDLE FileHandle,
                                  [[maybe_unused]] const EFI_PEI_SERVICES** PeiServices) {
  return SerialInit();
}

// Read on every message, so the platform can change it on a running machine.
UINT32 CmosErrorLevel() {
  UINT32 Mask = 0;
  for (UINT8 Index = 0; Index < 4; ++Index) {
    Mask |= static_cast<UINT32>(Cmos::Read8(static_cast<UINT8>(CmosErrorLevelByte + Index))) << (8 * Index);
  }
  return Mask;
}

void DebugMessage(UINT32 ErrorLevel, const CHAR8* Format, ...) {
  Check(Format != nullptr, FormatPresent);
  // Nothing can be formatted from a missing format, checks or not.
  if (Format == nullptr) {
    return;
  }
  if ((ErrorLevel & CmosErrorLevel()) == 0) {
    return;
  }
  CHAR8 Buffer[MessageBufferSize];
  va_list Arguments;
  va_start(Arguments, Format);
  AsciiFormatList(Buffer, MessageBufferSize, Format, Arguments);
  va_end(Arguments);
  WriteToConsole(Buffer);
}

// Reports always reach the console, whatever the level mask says.
void ReportAssertion(const CHAR8* FileName, UINTN LineNumber, const CHAR8* Description) {
  CHAR8 Buffer[MessageBufferSize];
  AsciiFormat(Buffer, MessageBufferSize, "ASSERT %a(%d): %a\n", FileName, LineNumber, Description);
  WriteToConsole(Buffer);
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
