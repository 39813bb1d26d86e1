// A stand-in PEI Foundation for the host: a services table in the PI layout, a
// pool, a PPI database later modules can search, and failure switches.
#pragma once

#include <cstdint>
#include <vector>

#include "Pi/PeiServices.h"

namespace Sim {

class PeiFoundation {
public:
  explicit PeiFoundation(uint32_t Revision = 0x00010046, size_t PoolBytes = 4096);
  ~PeiFoundation();
  PeiFoundation(const PeiFoundation&) = delete;
  PeiFoundation& operator=(const PeiFoundation&) = delete;

  // What the module's entry point receives.
  const EFI_PEI_SERVICES** Services() { return &Handle.Table; }
  EFI_PEI_SERVICES& Table() { return ServicesTable; }

  // Failure switches: the Nth AllocatePool (1-based) returns Status and a
  // null block, even when Status is not an error; InstallPpi returns Status
  // without installing anything.
  void FailAllocation(unsigned Nth, EFI_STATUS Status);
  void FailInstallPpi(EFI_STATUS Status);
  // The allocation that failed on purpose, once the module asked for it (0:
  // none), and the status it answered with.
  unsigned FailedAllocation() const { return AllocationCount >= FailingAllocation ? FailingAllocation : 0; }
  EFI_STATUS FailedAllocationStatus() const { return FailingAllocationStatus; }

  // The database, as a later module sees it.
  EFI_STATUS LocatePpi(const EFI_GUID& Guid, UINTN Instance, EFI_PEI_PPI_DESCRIPTOR** Descriptor, VOID** Ppi) const;
  const std::vector<EFI_PEI_PPI_DESCRIPTOR*>& Installed() const { return Database; }

  // Pool accounting.
  unsigned Allocations() const { return AllocationCount; }
  size_t PoolUsed() const { return PoolNext; }
  bool InPool(const void* Address, size_t Size) const;
  struct Block {
    uint8_t* Address;
    size_t Size;
  };
  const std::vector<Block>& Blocks() const { return Allocated; }

  // Calls of services the module is not expected to make.
  unsigned UnexpectedCalls() const { return UnexpectedCount; }

private:
  struct ServicesHandle {
    const EFI_PEI_SERVICES* Table;
    PeiFoundation* Owner;
  };
  static PeiFoundation& From(const EFI_PEI_SERVICES** PeiServices);
  static EFI_STATUS EFIAPI InstallPpiService(const EFI_PEI_SERVICES** PeiServices, const EFI_PEI_PPI_DESCRIPTOR* List);
  static EFI_STATUS EFIAPI LocatePpiService(const EFI_PEI_SERVICES** PeiServices, const EFI_GUID* Guid, UINTN Instance,
                                            EFI_PEI_PPI_DESCRIPTOR** Descriptor, VOID** Ppi);
  static EFI_STATUS EFIAPI AllocatePoolService(const EFI_PEI_SERVICES** PeiServices, UINTN Size, VOID** Buffer);
  static EFI_STATUS EFIAPI UnexpectedService();

  EFI_PEI_SERVICES ServicesTable{};
  ServicesHandle Handle{};
  std::vector<uint8_t> Pool;
  size_t PoolNext = 0;
  std::vector<Block> Allocated;
  std::vector<EFI_PEI_PPI_DESCRIPTOR*> Database;
  unsigned AllocationCount = 0;
  unsigned FailingAllocation = 0;
  EFI_STATUS FailingAllocationStatus = EFI_SUCCESS;
  bool InstallFails = false;
  EFI_STATUS InstallStatus = EFI_SUCCESS;
  unsigned UnexpectedCount = 0;
};

}  // namespace Sim
