// Identity paging with 4 KiB pages over the first 64 MiB.
#include "Paging.h"

namespace {
constexpr UINT32 Present = 0x001;
constexpr UINT32 Writable = 0x002;
constexpr UINT32 TableCount = Paging::MappedBytes >> 22;  // one table maps 4 MiB
constexpr UINT32 Cr0WriteProtect = 1u << 16;
constexpr UINT32 Cr0Paging = 1u << 31;

constexpr UINT32 TopTable = 1023;  // the directory entry for 0xFFC00000..0xFFFFFFFF

alignas(4096) UINT32 PageDirectory[1024];
alignas(4096) UINT32 PageTables[TableCount][1024];
alignas(4096) UINT32 FlashTable[1024];

UINT32& EntryFor(UINT32 Address) {
  if ((Address >> 22) == TopTable) {
    return FlashTable[(Address >> 12) & 0x3FF];
  }
  return PageTables[Address >> 22][(Address >> 12) & 0x3FF];
}
}  // namespace

namespace Paging {
void Enable(UINT32 FlashBase) {
  for (UINT32 Table = 0; Table < TableCount; ++Table) {
    for (UINT32 Index = 0; Index < 1024; ++Index) {
      PageTables[Table][Index] = ((Table << 22) | (Index << 12)) | Present | Writable;
    }
    PageDirectory[Table] = reinterpret_cast<UINT32>(&PageTables[Table][0]) | Present | Writable;
  }
  for (UINT32 Page = FlashBase & ~(PageSize - 1); Page != 0; Page += PageSize) {
    EntryFor(Page) = Page | Present;
  }
  PageDirectory[TopTable] = reinterpret_cast<UINT32>(FlashTable) | Present | Writable;
  EntryFor(0) = 0;
  UINT32 Cr0;
  __asm__ __volatile__("mov %0, %%cr3" : : "r"(reinterpret_cast<UINT32>(PageDirectory)) : "memory");
  __asm__ __volatile__("mov %%cr0, %0" : "=r"(Cr0));
  Cr0 |= Cr0Paging | Cr0WriteProtect;
  __asm__ __volatile__("mov %0, %%cr0" : : "r"(Cr0) : "memory");
}

void Protect(UINT32 Address, UINT32 Size, Access How) {
  const UINT32 First = Address & ~(PageSize - 1);
  for (UINT32 Page = First; Page < Address + Size; Page += PageSize) {
    UINT32 Flags = 0;
    if (How != Access::Absent) {
      Flags = Present | (How == Access::ReadWrite ? Writable : 0);
    }
    EntryFor(Page) = Page | Flags;
    __asm__ __volatile__("invlpg (%0)" : : "r"(Page) : "memory");
  }
}
}  // namespace Paging
