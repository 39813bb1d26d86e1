// Identity paging of the machine's memory and of the flash at the top of the
// 4 GiB space, so that flash is read-only (a module that writes to itself
// faults), the null page and the stack guard page absent.
#pragma once

#include "Base.h"

namespace Paging {
inline constexpr UINT32 PageSize = 4096;
inline constexpr UINT32 MappedBytes = 64u << 20;  // the -m 64 of the scenarios

enum class Access : UINT8 { Absent, ReadOnly, ReadWrite };

// Maps all memory read-write except the null page, and the flash from
// FlashBase to 4 GiB read-only (32-bit paging has no no-execute bit, so it
// stays executable), then turns paging on with CR0.WP so that ring-0 writes
// honour read-only pages too. FlashBase lies in the top 4 MiB.
void Enable(UINT32 FlashBase);
// Changes the pages that cover [Address, Address + Size).
void Protect(UINT32 Address, UINT32 Size, Access How);
}  // namespace Paging
