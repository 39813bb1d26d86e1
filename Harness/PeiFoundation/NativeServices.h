// The stand-in PEI Foundation for a module in this address space: a services
// table in the PI layout whose entries call the foundation directly, and the
// pool's storage. The host board and the QEMU stand-in boot the module with it.
#pragma once

#include "PeiFoundation.h"

namespace Pei {

class NativeServices : public Foundation {
public:
  static constexpr UINT32 PoolBytes = 16 * 1024;

  explicit NativeServices(UINT32 Revision = DefaultRevision) { Start(Revision, FailureSwitches::None()); }
  // Leaves everything zero, so that a static instance needs no constructor
  // to run (the QEMU stand-in runs none); Start makes it usable.
  struct NotStartedYet {};
  constexpr explicit NativeServices(NotStartedYet) {}
  NativeServices(const NativeServices&) = delete;
  NativeServices& operator=(const NativeServices&) = delete;

  void Start(UINT32 Revision, const FailureSwitches& Fail);

  // What the module's entry point receives.
  const EFI_PEI_SERVICES** Services() { return &Handle.Table; }
  EFI_PEI_SERVICES& Table() { return ServicesTable; }

  // Failure switches: the Nth AllocatePool (1-based) returns Status and a
  // null block, even when Status is not an error; InstallPpi returns Status
  // without installing.
  void FailAllocation(UINT32 Nth, EFI_STATUS Status);
  void FailInstallPpi(EFI_STATUS Status);

  // The database as a later module sees it.
  EFI_STATUS LocatePpi(const EFI_GUID& Guid, UINTN Instance, EFI_PEI_PPI_DESCRIPTOR** Descriptor, VOID** Ppi) const;
  EFI_PEI_PPI_DESCRIPTOR* Installed(UINT32 Index) const;
  bool InPool(const void* At, UINT32 Size) const;
  using Foundation::InPool;

private:
  // PeiServices points here, so each service finds its foundation.
  struct ServicesHandle {
    const EFI_PEI_SERVICES* Table;
    NativeServices* Owner;
  };
  static NativeServices& From(const EFI_PEI_SERVICES** PeiServices);
  static EFI_STATUS EFIAPI InstallPpiService(const EFI_PEI_SERVICES** PeiServices, const EFI_PEI_PPI_DESCRIPTOR* List);
  static EFI_STATUS EFIAPI LocatePpiService(const EFI_PEI_SERVICES** PeiServices, const EFI_GUID* Guid,
                                            UINTN Instance, EFI_PEI_PPI_DESCRIPTOR** Descriptor, VOID** Ppi);
  static EFI_STATUS EFIAPI AllocatePoolService(const EFI_PEI_SERVICES** PeiServices, UINTN Size, VOID** Buffer);
  static EFI_STATUS EFIAPI UnexpectedService();

  EFI_PEI_SERVICES ServicesTable{};
  ServicesHandle Handle{};
  alignas(16) UINT8 PoolStorage[PoolBytes]{};
};

}  // namespace Pei
