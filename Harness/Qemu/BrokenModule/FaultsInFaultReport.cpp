// A deliberately broken module: it arms a data breakpoint on its stack a
// little below its own frame, then executes an undefined instruction. The
// core's report of that fault runs on the same stack, so its first pushes
// trap in turn; the core must end the run at once with one line saying so
// rather than take the trap for the module's fault or report it again.
#include "Pi/PeiServices.h"

namespace {
// DR7: breakpoint 0 enabled locally, on data writes, 4 bytes wide. Read by
// absolute address, which gives the image the base relocations that every
// image must carry.
constexpr UINT32 WatchWrites = 0x00000001 | (1u << 16) | (3u << 18);
constexpr UINT32 Control[1] = {WatchWrites};
}  // namespace

extern "C" EFI_STATUS EFIAPI ModuleEntry(EFI_PEI_FILE_HANDLE, const EFI_PEI_SERVICES**) {
  const volatile UINT32* Setting = Control;
  // 72 bytes below: past the processor's frame, the stub's pushes and its
  // call, where the handler's first register save lands.
  __asm__ __volatile__(
      "mov %%esp, %%eax\n\t"
      "sub $72, %%eax\n\t"
      "and $0xFFFFFFFC, %%eax\n\t"
      "mov %%eax, %%dr0\n\t"
      "mov %0, %%dr7\n\t"
      "ud2"
      :
      : "r"(Setting[0])
      : "eax", "memory");
  return EFI_SUCCESS;
}
