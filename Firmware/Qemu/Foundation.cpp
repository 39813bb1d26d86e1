// The services table, pool and PPI database of the stand-in PEI Foundation.
#include "Foundation.h"

namespace {
constexpr UINT64 PeiServicesSignature = 0x5652455320494550ull;  // "PEI SERV"
constexpr UINT8 PoolPaint = 0xA7;
constexpr UINT32 PoolAlignment = 8;
constexpr UINT32 MaxPpis = 8;

struct State {
  EFI_PEI_SERVICES Table;
  const EFI_PEI_SERVICES* TablePointer;
  Foundation::Switches Fail;
  UINT32 PoolNext;
  UINT32 AllocationCalls;
  UINT32 BlockCount;
  Foundation::Block Blocks[Foundation::MaxBlocks];
  UINT32 InstallCalls;
  UINT32 PpiCount;
  const EFI_PEI_PPI_DESCRIPTOR* Ppis[MaxPpis];
  UINT32 UnexpectedCalls;
  UINT32 LastUnexpectedCaller;
};

State Pei;
alignas(16) UINT8 Pool[Foundation::PoolBytes];

EFI_STATUS EFIAPI InstallPpiService(const EFI_PEI_SERVICES**, const EFI_PEI_PPI_DESCRIPTOR* List) {
  ++Pei.InstallCalls;
  if (Pei.Fail.InstallFails) {
    return Pei.Fail.InstallStatus;
  }
  if (List == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // The whole list goes in or none of it does.
  UINT32 Count = 0;
  for (;;) {
    if (Count == MaxPpis - Pei.PpiCount) {
      return EFI_OUT_OF_RESOURCES;
    }
    if ((List[Count].Flags & EFI_PEI_PPI_DESCRIPTOR_PPI) == 0) {
      return EFI_INVALID_PARAMETER;
    }
    if ((List[Count++].Flags & EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST) != 0) {
      break;
    }
  }
  for (UINT32 Index = 0; Index < Count; ++Index) {
    Pei.Ppis[Pei.PpiCount++] = &List[Index];
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI LocatePpiService(const EFI_PEI_SERVICES**, const EFI_GUID* Guid, UINTN Instance,
                                   EFI_PEI_PPI_DESCRIPTOR** Descriptor, VOID** Ppi) {
  return Foundation::LocatePpi(Guid, Instance, Descriptor, Ppi);
}

EFI_STATUS EFIAPI AllocatePoolService(const EFI_PEI_SERVICES**, UINTN Size, VOID** Buffer) {
  ++Pei.AllocationCalls;
  if (Pei.AllocationCalls == Pei.Fail.FailingAllocation) {
    return EFI_OUT_OF_RESOURCES;
  }
  const UINT32 Start = (Pei.PoolNext + PoolAlignment - 1) & ~(PoolAlignment - 1);
  if (Buffer == nullptr || Size > Foundation::PoolBytes - Start || Pei.BlockCount == Foundation::MaxBlocks) {
    return EFI_OUT_OF_RESOURCES;
  }
  Pei.PoolNext = Start + Size;
  Pei.Blocks[Pei.BlockCount++] = {reinterpret_cast<UINT32>(&Pool[Start]), Size};
  *Buffer = &Pool[Start];
  return EFI_SUCCESS;
}

// Every service this module has no business calling lands here; the caller's
// address says from where.
EFI_STATUS EFIAPI UnexpectedService() {
  ++Pei.UnexpectedCalls;
  Pei.LastUnexpectedCaller = reinterpret_cast<UINT32>(__builtin_return_address(0));
  return EFI_UNSUPPORTED;
}
}  // namespace

namespace Foundation {
void Initialise(const Switches& Fail) {
  Pei = {};
  Pei.Fail = Fail;
  for (UINT32 Index = 0; Index < PoolBytes; ++Index) {
    Pool[Index] = PoolPaint;
  }
  EFI_PEI_SERVICES& Table = Pei.Table;
  Table.Hdr.Signature = PeiServicesSignature;
  Table.Hdr.Revision = TableRevision;
  Table.Hdr.HeaderSize = sizeof(EFI_PEI_SERVICES);
  Table.InstallPpi = InstallPpiService;
  Table.LocatePpi = LocatePpiService;
  Table.AllocatePool = AllocatePoolService;
  EFI_PEI_OTHER_SERVICE* Others[] = {
      &Table.ReInstallPpi,      &Table.NotifyPpi,       &Table.GetBootMode,        &Table.SetBootMode,
      &Table.GetHobList,        &Table.CreateHob,       &Table.FfsFindNextVolume,  &Table.FfsFindNextFile,
      &Table.FfsFindSectionData, &Table.InstallPeiMemory, &Table.AllocatePages,     &Table.CopyMem,
      &Table.SetMem,            &Table.ReportStatusCode, &Table.ResetSystem,       &Table.FfsFindFileByName,
      &Table.FfsGetFileInfo,    &Table.FfsGetVolumeInfo, &Table.RegisterForShadow, &Table.FindSectionData3,
      &Table.FfsGetFileInfo2,   &Table.ResetSystem2,    &Table.FreePages};
  for (EFI_PEI_OTHER_SERVICE* Entry : Others) {
    *Entry = UnexpectedService;
  }
  Pei.TablePointer = &Pei.Table;
}

const EFI_PEI_SERVICES** Services() { return &Pei.TablePointer; }

EFI_STATUS LocatePpi(const EFI_GUID* Guid, UINTN Instance, EFI_PEI_PPI_DESCRIPTOR** Descriptor, VOID** Ppi) {
  if (Guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  for (UINT32 Index = 0; Index < Pei.PpiCount; ++Index) {
    if (SameGuid(*Pei.Ppis[Index]->Guid, *Guid) && Instance-- == 0) {
      if (Descriptor != nullptr) {
        *Descriptor = const_cast<EFI_PEI_PPI_DESCRIPTOR*>(Pei.Ppis[Index]);
      }
      if (Ppi != nullptr) {
        *Ppi = Pei.Ppis[Index]->Ppi;
      }
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

UINT32 AllocationCalls() { return Pei.AllocationCalls; }
UINT32 BlockCount() { return Pei.BlockCount; }
Block BlockAt(UINT32 Index) { return Pei.Blocks[Index]; }

bool IsBlock(UINT32 Address, UINT32 Size) {
  for (UINT32 Index = 0; Index < Pei.BlockCount; ++Index) {
    if (Pei.Blocks[Index].Address == Address && Pei.Blocks[Index].Size == Size) {
      return true;
    }
  }
  return false;
}

bool PoolTailUntouched() {
  for (UINT32 Index = Pei.PoolNext; Index < PoolBytes; ++Index) {
    if (Pool[Index] != PoolPaint) {
      return false;
    }
  }
  return true;
}

UINT32 InstallCalls() { return Pei.InstallCalls; }
UINT32 InstalledCount() { return Pei.PpiCount; }
UINT32 UnexpectedCalls() { return Pei.UnexpectedCalls; }
UINT32 LastUnexpectedCaller() { return Pei.LastUnexpectedCaller; }
}  // namespace Foundation
