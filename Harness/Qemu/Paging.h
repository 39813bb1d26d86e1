// Identity paging of the machine's memory, so that the module's image can be
// read-only, the null page and the stack guard page absent.
#pragma once

#include "Base.h"

namespace Paging {
inline constexpr UINT32 PageSize = 4096;
inline constexpr UINT32 MappedBytes = 64u << 20;  // the -m 64 of the scenarios

enum class Access : UINT8 { Absent, ReadOnly, ReadWrite };

// Maps all memory read-write except the null page, then turns paging on with
// CR0.WP so that ring-0 writes honour read-only pages too.
void Enable();
// Changes the pages that cover [Address, Address + Size).
void Protect(UINT32 Address, UINT32 Size, Access How);
}  // namespace Paging
