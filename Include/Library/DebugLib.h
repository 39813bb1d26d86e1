// Leveled debug messages, assertion reports and the check patterns that every
// unit expands at its call sites.
#pragma once

#include "Base.h"
#include "BuildSettings.h"

inline constexpr UINT32 LevelError = 0x80000000;

inline constexpr UINT8 DebugAssertEnabled = 0x01;
inline constexpr UINT8 DebugMessagesEnabled = 0x02;
inline constexpr UINT8 DebugBreakpointOnAssert = 0x10;
inline constexpr UINT8 DebugDeadloopOnAssert = 0x20;

constexpr bool AssertChecksEnabled() { return (Settings::DebugControlMask & DebugAssertEnabled) != 0; }
constexpr bool MessagesEnabled() { return (Settings::DebugControlMask & DebugMessagesEnabled) != 0; }
constexpr bool LevelEnabled(UINT32 ErrorLevel) { return (ErrorLevel & Settings::FixedPrintLevelMask) != 0; }

UINT32 CmosErrorLevel();
void DebugMessage(UINT32 ErrorLevel, const CHAR8* Format, ...);
void ReportAssertion(const CHAR8* FileName, UINTN LineNumber, const CHAR8* Description);
void Breakpoint();
void HaltLoop();

// A failed check prints where it is and what it expected. The path, line and
// text are read-only data of the reporting unit: log readers rely on them, so
// the line is a fixed coordinate of the report, not the line of the check in
// our file, and edits do not move it.
struct CheckSite {
  const CHAR8* Path;
  UINT32 Line;
  const CHAR8* Text;
};

inline void Check(bool Holds, const CheckSite& Site) {
  if (AssertChecksEnabled() && !Holds) {
    ReportAssertion(Site.Path, Site.Line, Site.Text);
  }
}

inline constexpr const CHAR8* StatusCheckText = "!EFI_ERROR (Status)";
inline constexpr const CHAR8* StatusCheckFormat = "\nASSERT_EFI_ERROR (Status = %r)\n";

// A status check's site carries StatusCheckText.
inline void CheckStatus(EFI_STATUS Status, const CheckSite& Site) {
  if (AssertChecksEnabled() && EFI_ERROR(Status)) {
    if (MessagesEnabled() && LevelEnabled(LevelError)) {
      DebugMessage(LevelError, StatusCheckFormat, Status);
    }
    ReportAssertion(Site.Path, Site.Line, Site.Text);
  }
}
