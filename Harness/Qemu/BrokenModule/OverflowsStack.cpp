// A deliberately broken module: its entry point recurses until it runs off
// the stack. The harness must name the overflow rather than die in a triple
// fault.
#include "Pi/PeiServices.h"

namespace {
// A constant table read by absolute address gives the image the base
// relocations that every image must carry.
constexpr UINT8 Steps[4] = {1, 2, 3, 4};

UINT32 Descend(const volatile UINT8* Above, UINT32 Depth) {
  volatile UINT8 Frame[256];
  Frame[0] = static_cast<UINT8>(Above[0] + Steps[Depth & 3]);
  if (Depth == 0xFFFFFFFF) {
    return 0;
  }
  // Using Frame after the call keeps it from becoming a loop.
  return Descend(Frame, Depth + 1) + Frame[0];
}
}  // namespace

extern "C" EFI_STATUS EFIAPI ModuleEntry(EFI_PEI_FILE_HANDLE, const EFI_PEI_SERVICES**) {
  const volatile UINT8 Start = 0;
  return Descend(&Start, 0) == 0 ? EFI_SUCCESS : EFI_ABORTED;
}
