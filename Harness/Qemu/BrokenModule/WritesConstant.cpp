// A deliberately broken module: its entry point writes to its own constant
// data. The image passes every static check, and only a run with the image
// mapped read-only, as flash is, shows the fault; the QEMU harness must fail it.
#include "Pi/PeiServices.h"

namespace {
const UINT32 BootCount = 0x0C0FFEE0;
}  // namespace

extern "C" EFI_STATUS EFIAPI ModuleEntry(EFI_PEI_FILE_HANDLE, const EFI_PEI_SERVICES**) {
  UINT32* Counter = const_cast<UINT32*>(&BootCount);
  // Hide the constness from the optimiser, which would otherwise drop the store.
  __asm__ __volatile__("" : "+r"(Counter));
  *Counter += 1;
  return EFI_SUCCESS;
}
