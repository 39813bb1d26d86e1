// The PEI services the module reaches through its PeiServices argument: a
// table in the IA32 PI layout, a pool, a PPI database and failure switches.
#pragma once

#include "Pi/PeiServices.h"

namespace Foundation {
inline constexpr UINT32 PoolBytes = 16 * 1024;
inline constexpr UINT32 MaxBlocks = 16;
inline constexpr UINT32 TableRevision = 0x00010046;  // PI 1.70

struct Switches {
  UINT32 FailingAllocation;  // 1-based; 0 for none
  bool InstallFails;
  EFI_STATUS InstallStatus;
};

void Initialise(const Switches& Fail);
const EFI_PEI_SERVICES** Services();

EFI_STATUS LocatePpi(const EFI_GUID* Guid, UINTN Instance, EFI_PEI_PPI_DESCRIPTOR** Descriptor, VOID** Ppi);

struct Block {
  UINT32 Address;
  UINT32 Size;
};
UINT32 AllocationCalls();
UINT32 BlockCount();
Block BlockAt(UINT32 Index);
// Address is the start of a pool block of exactly Size bytes.
bool IsBlock(UINT32 Address, UINT32 Size);
// Nothing past the last block has been written since Initialise.
bool PoolTailUntouched();

UINT32 InstallCalls();
UINT32 InstalledCount();
UINT32 UnexpectedCalls();
UINT32 LastUnexpectedCaller();
}  // namespace Foundation
