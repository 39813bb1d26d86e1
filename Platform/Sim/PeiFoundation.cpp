// The stand-in PEI Foundation's services.
#include "PeiFoundation.h"

namespace Sim {
namespace {
// The foundation that the opaque services report to; set while one exists.
PeiFoundation* UnexpectedSink = nullptr;
constexpr uint64_t PeiServicesSignature = 0x5652455320494550ull;  // "PEI SERV"
}  // namespace

PeiFoundation::PeiFoundation(uint32_t Revision, size_t PoolBytes) : Pool(PoolBytes, 0xAF) {
  ServicesTable.Hdr.Signature = PeiServicesSignature;
  ServicesTable.Hdr.Revision = Revision;
  ServicesTable.Hdr.HeaderSize = sizeof(EFI_PEI_SERVICES);
  auto Unexpected = &UnexpectedService;
  for (EFI_PEI_OTHER_SERVICE* Entry :
       {&ServicesTable.ReInstallPpi, &ServicesTable.NotifyPpi, &ServicesTable.GetBootMode, &ServicesTable.SetBootMode,
        &ServicesTable.GetHobList, &ServicesTable.CreateHob, &ServicesTable.FfsFindNextVolume,
        &ServicesTable.FfsFindNextFile, &ServicesTable.FfsFindSectionData, &ServicesTable.InstallPeiMemory,
        &ServicesTable.AllocatePages, &ServicesTable.CopyMem, &ServicesTable.SetMem, &ServicesTable.ReportStatusCode,
        &ServicesTable.ResetSystem, &ServicesTable.FfsFindFileByName, &ServicesTable.FfsGetFileInfo,
        &ServicesTable.FfsGetVolumeInfo, &ServicesTable.RegisterForShadow, &ServicesTable.FindSectionData3,
        &ServicesTable.FfsGetFileInfo2, &ServicesTable.ResetSystem2, &ServicesTable.FreePages}) {
    *Entry = Unexpected;
  }
  ServicesTable.InstallPpi = &InstallPpiService;
  ServicesTable.LocatePpi = &LocatePpiService;
  ServicesTable.AllocatePool = &AllocatePoolService;
  Handle = {&ServicesTable, this};
  UnexpectedSink = this;
}

PeiFoundation::~PeiFoundation() {
  if (UnexpectedSink == this) {
    UnexpectedSink = nullptr;
  }
}

void PeiFoundation::FailAllocation(unsigned Nth, EFI_STATUS Status) {
  FailingAllocation = Nth;
  FailingAllocationStatus = Status;
}

void PeiFoundation::FailInstallPpi(EFI_STATUS Status) {
  InstallFails = true;
  InstallStatus = Status;
}

PeiFoundation& PeiFoundation::From(const EFI_PEI_SERVICES** PeiServices) {
  return *reinterpret_cast<const ServicesHandle*>(PeiServices)->Owner;
}

EFI_STATUS EFIAPI PeiFoundation::InstallPpiService(const EFI_PEI_SERVICES** PeiServices,
                                                   const EFI_PEI_PPI_DESCRIPTOR* List) {
  PeiFoundation& Self = From(PeiServices);
  if (Self.InstallFails) {
    return Self.InstallStatus;
  }
  if (List == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // Check the whole list before taking any of it.
  size_t Count = 0;
  for (const EFI_PEI_PPI_DESCRIPTOR* Entry = List;; ++Entry) {
    if ((Entry->Flags & EFI_PEI_PPI_DESCRIPTOR_PPI) == 0 || Entry->Guid == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    ++Count;
    if ((Entry->Flags & EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST) != 0) {
      break;
    }
  }
  for (size_t Index = 0; Index < Count; ++Index) {
    Self.Database.push_back(const_cast<EFI_PEI_PPI_DESCRIPTOR*>(&List[Index]));
  }
  return EFI_SUCCESS;
}

EFI_STATUS PeiFoundation::LocatePpi(const EFI_GUID& Guid, UINTN Instance, EFI_PEI_PPI_DESCRIPTOR** Descriptor,
                                    VOID** Ppi) const {
  for (EFI_PEI_PPI_DESCRIPTOR* Entry : Database) {
    if (SameGuid(*Entry->Guid, Guid) && Instance-- == 0) {
      if (Descriptor != nullptr) {
        *Descriptor = Entry;
      }
      if (Ppi != nullptr) {
        *Ppi = Entry->Ppi;
      }
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI PeiFoundation::LocatePpiService(const EFI_PEI_SERVICES** PeiServices, const EFI_GUID* Guid,
                                                  UINTN Instance, EFI_PEI_PPI_DESCRIPTOR** Descriptor, VOID** Ppi) {
  if (Guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return From(PeiServices).LocatePpi(*Guid, Instance, Descriptor, Ppi);
}

EFI_STATUS EFIAPI PeiFoundation::AllocatePoolService(const EFI_PEI_SERVICES** PeiServices, UINTN Size,
                                                     VOID** Buffer) {
  PeiFoundation& Self = From(PeiServices);
  ++Self.AllocationCount;
  if (Self.AllocationCount == Self.FailingAllocation) {
    // No block, whatever the status says: a foundation may also answer
    // success or a warning this way, and the module must cope.
    if (Buffer != nullptr) {
      *Buffer = nullptr;
    }
    return Self.FailingAllocationStatus;
  }
  if (Buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // Pool blocks are 8-byte aligned, as PI requires.
  const size_t Start = (Self.PoolNext + 7) & ~size_t{7};
  if (Start + Size > Self.Pool.size()) {
    return EFI_OUT_OF_RESOURCES;
  }
  Self.PoolNext = Start + Size;
  *Buffer = &Self.Pool[Start];
  Self.Allocated.push_back({&Self.Pool[Start], Size});
  return EFI_SUCCESS;
}

bool PeiFoundation::InPool(const void* Address, size_t Size) const {
  const auto* Byte = static_cast<const uint8_t*>(Address);
  return Byte >= Pool.data() && Byte + Size <= Pool.data() + Pool.size();
}

EFI_STATUS EFIAPI PeiFoundation::UnexpectedService() {
  if (UnexpectedSink != nullptr) {
    ++UnexpectedSink->UnexpectedCount;
  }
  return EFI_UNSUPPORTED;
}

}  // namespace Sim
