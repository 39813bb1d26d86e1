// The version record that this module publishes for later PEI modules.
#pragma once

#include "Base.h"

struct VersionStringPpi {
  const CHAR8* Signature;
  const CHAR8* VersionString;
};
static_assert(sizeof(VersionStringPpi) == 8, "two 32-bit pointers");

// {17632CBE-6C80-49B6-8207-12B53D9B2570}
inline constexpr EFI_GUID VersionStringPpiGuid = {
    0x17632CBE, 0x6C80, 0x49B6, {0x82, 0x07, 0x12, 0xB5, 0x3D, 0x9B, 0x25, 0x70}};
