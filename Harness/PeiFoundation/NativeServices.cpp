// The services table of the stand-in PEI Foundation, for a module in this
// address space.
#include "NativeServices.h"

namespace Pei {
namespace {
// The services the module has no business calling take no arguments here, so
// they cannot find their foundation through PeiServices: the last one started
// takes the report (there is no destructor to clear it, since the QEMU
// stand-in cannot run one).
NativeServices* Started = nullptr;

Address AddressOf(const void* Pointer) { return static_cast<Address>(reinterpret_cast<UINTN>(Pointer)); }
template <typename T>
T* PointerTo(Address At) {
  return reinterpret_cast<T*>(static_cast<UINTN>(At));
}
}  // namespace

void NativeServices::Start(UINT32 Revision, const FailureSwitches& Fail) {
  Reset(SameAddressSpace(), PoolStorage, AddressOf(PoolStorage), PoolBytes, Fail);
  ServicesTable = {};
  ServicesTable.Hdr.Signature = ServicesSignature;
  ServicesTable.Hdr.Revision = Revision;
  ServicesTable.Hdr.HeaderSize = sizeof(EFI_PEI_SERVICES);
  EFI_PEI_OTHER_SERVICE* Others[] = {
      &ServicesTable.ReInstallPpi,       &ServicesTable.NotifyPpi,         &ServicesTable.GetBootMode,
      &ServicesTable.SetBootMode,        &ServicesTable.GetHobList,        &ServicesTable.CreateHob,
      &ServicesTable.FfsFindNextVolume,  &ServicesTable.FfsFindNextFile,   &ServicesTable.FfsFindSectionData,
      &ServicesTable.InstallPeiMemory,   &ServicesTable.AllocatePages,     &ServicesTable.CopyMem,
      &ServicesTable.SetMem,             &ServicesTable.ReportStatusCode,  &ServicesTable.ResetSystem,
      &ServicesTable.FfsFindFileByName,  &ServicesTable.FfsGetFileInfo,    &ServicesTable.FfsGetVolumeInfo,
      &ServicesTable.RegisterForShadow,  &ServicesTable.FindSectionData3,  &ServicesTable.FfsGetFileInfo2,
      &ServicesTable.ResetSystem2,       &ServicesTable.FreePages};
  for (EFI_PEI_OTHER_SERVICE* Entry : Others) {
    *Entry = &UnexpectedService;
  }
  ServicesTable.InstallPpi = &InstallPpiService;
  ServicesTable.LocatePpi = &LocatePpiService;
  ServicesTable.AllocatePool = &AllocatePoolService;
  Handle = {&ServicesTable, this};
  Started = this;
}

void NativeServices::FailAllocation(UINT32 Nth, EFI_STATUS Status) {
  SetFailures(Failures().WithAllocation(Nth, Status));
}

void NativeServices::FailInstallPpi(EFI_STATUS Status) { SetFailures(Failures().WithInstall(Status)); }

EFI_STATUS NativeServices::LocatePpi(const EFI_GUID& Guid, UINTN Instance, EFI_PEI_PPI_DESCRIPTOR** Descriptor,
                                     VOID** Ppi) const {
  Address FoundAt = 0;
  Address PpiAt = 0;
  const EFI_STATUS Status = Foundation::LocatePpi(Guid, Instance, &FoundAt, &PpiAt);
  if (Status == EFI_SUCCESS) {
    if (Descriptor != nullptr) {
      *Descriptor = PointerTo<EFI_PEI_PPI_DESCRIPTOR>(FoundAt);
    }
    if (Ppi != nullptr) {
      *Ppi = PointerTo<VOID>(PpiAt);
    }
  }
  return Status;
}

EFI_PEI_PPI_DESCRIPTOR* NativeServices::Installed(UINT32 Index) const {
  return PointerTo<EFI_PEI_PPI_DESCRIPTOR>(InstalledAt(Index));
}

bool NativeServices::InPool(const void* At, UINT32 Size) const { return Foundation::InPool(AddressOf(At), Size); }

NativeServices& NativeServices::From(const EFI_PEI_SERVICES** PeiServices) {
  return *reinterpret_cast<const ServicesHandle*>(PeiServices)->Owner;
}

EFI_STATUS EFIAPI NativeServices::InstallPpiService(const EFI_PEI_SERVICES** PeiServices,
                                                    const EFI_PEI_PPI_DESCRIPTOR* List) {
  return From(PeiServices).InstallPpi(AddressOf(List));
}

EFI_STATUS EFIAPI NativeServices::LocatePpiService(const EFI_PEI_SERVICES** PeiServices, const EFI_GUID* Guid,
                                                   UINTN Instance, EFI_PEI_PPI_DESCRIPTOR** Descriptor, VOID** Ppi) {
  if (Guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return From(PeiServices).LocatePpi(*Guid, Instance, Descriptor, Ppi);
}

EFI_STATUS EFIAPI NativeServices::AllocatePoolService(const EFI_PEI_SERVICES** PeiServices, UINTN Size,
                                                      VOID** Buffer) {
  if (Buffer == nullptr) {
    return From(PeiServices).AllocatePool(Size, nullptr);
  }
  // No block comes back as a null one, whatever the status says: a foundation
  // may answer success or a warning this way, and the module must cope.
  Address Block = 0;
  const EFI_STATUS Status = From(PeiServices).AllocatePool(Size, &Block);
  *Buffer = PointerTo<VOID>(Block);
  return Status;
}

// The caller's address says from where the module called.
EFI_STATUS EFIAPI NativeServices::UnexpectedService() {
  if (Started != nullptr) {
    Started->NoteUnexpectedCall(AddressOf(__builtin_return_address(0)));
  }
  return EFI_UNSUPPORTED;
}

}  // namespace Pei
