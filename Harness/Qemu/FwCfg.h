// QEMU's firmware configuration device through its I/O ports: the files a
// command line adds with -fw_cfg name=...,string=... are how a run is told
// its scenario.
#pragma once

#include "Base.h"

namespace FwCfg {
inline constexpr UINT32 NameBytes = 56;

struct Item {
  CHAR8 Name[NameBytes];  // 0-terminated
  UINT16 Selector;
  UINT32 Size;
};

// True when the device answers with its signature.
bool Present();
UINT32 ItemCount();
// The Index-th entry of the file directory.
Item ItemAt(UINT32 Index);
// Reads at most Limit bytes of the item; returns how many were read.
UINT32 Read(const Item& Which, UINT8* Into, UINT32 Limit);
}  // namespace FwCfg
