// The module's painted stack and its high-water mark.
#include "ModuleStack.h"

#include "Paging.h"

namespace {
constexpr UINT32 Paint = 0x5AC3A55C;
constexpr UINT32 Words = ModuleStack::Bytes / 4;

// The guard page lies directly below the stack, in the same array.
alignas(4096) UINT32 Area[(Paging::PageSize + ModuleStack::Bytes) / 4];

UINT32* Stack() { return &Area[Paging::PageSize / 4]; }
}  // namespace

namespace ModuleStack {
void Paint() {
  for (UINT32 Index = 0; Index < Words; ++Index) {
    Stack()[Index] = ::Paint;
  }
  Paging::Protect(reinterpret_cast<UINT32>(Area), Paging::PageSize, Paging::Access::Absent);
}

UINT32 Top() { return reinterpret_cast<UINT32>(Stack() + Words); }

UINT32 HighWaterMark() {
  UINT32 Index = 0;
  while (Index < Words && Stack()[Index] == ::Paint) {
    ++Index;
  }
  return (Words - Index) * 4;
}

bool InGuardPage(UINT32 Address) {
  const UINT32 Guard = reinterpret_cast<UINT32>(Area);
  return Address >= Guard && Address < Guard + Paging::PageSize;
}
}  // namespace ModuleStack
