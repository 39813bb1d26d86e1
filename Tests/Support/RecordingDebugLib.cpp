// The recording reporter: same interface as the serial one, no hardware.
#include "RecordingDebugLib.h"

#include <cstdarg>

#include "Library/DebugLib.h"
#include "Pi/PeiServices.h"

namespace Recorded {
std::vector<Assertion>& Assertions() {
  static std::vector<Assertion> List;
  return List;
}
std::vector<Message>& Messages() {
  static std::vector<Message> List;
  return List;
}
void Clear() {
  Assertions().clear();
  Messages().clear();
}
}  // namespace Recorded

// The serial reporter's constructor brings up the console; unit tests have none.
EFI_STATUS SerialDebugConstructor(EFI_PEI_FILE_HANDLE, const EFI_PEI_SERVICES**) { return EFI_SUCCESS; }

UINT32 CmosErrorLevel() { return 0xFFFFFFFF; }

void DebugMessage(UINT32 ErrorLevel, const CHAR8* Format, ...) {
  va_list Arguments;
  va_start(Arguments, Format);
  const uint32_t First = va_arg(Arguments, uint32_t);
  va_end(Arguments);
  Recorded::Messages().push_back({ErrorLevel, Format != nullptr ? Format : "", First});
}

void ReportAssertion(const CHAR8* FileName, UINTN LineNumber, const CHAR8* Description) {
  Recorded::Assertions().push_back({FileName, static_cast<uint32_t>(LineNumber), Description});
}

void Breakpoint() {}
void HaltLoop() {}
