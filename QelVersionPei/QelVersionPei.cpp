// Publishes the firmware package's version record for later PEI modules.
#include "QelVersionPei.h"

#include "Library/BaseLib.h"
#include "Library/DebugLib.h"
#include "Ppi/VersionString.h"

namespace {
// Check sites: the line numbers are fixed report coordinates, not lines of this file.
constexpr const CHAR8* Path = "QelVersionPei/QelVersionPei.cpp";
constexpr CheckSite RecordAllocated = {Path, 97, StatusCheckText};
constexpr CheckSite DescriptorAllocated = {Path, 109, StatusCheckText};

// The version text is found directly behind the signature's terminator, so
// the two texts stay in one block, in this order.
constexpr CHAR8 VersionBlock[] = "TORVA!V9\0OlvendPI-QX4 1.0.0.P";
static_assert(sizeof(VersionBlock) == 8 + 1 + 20 + 1);
}  // namespace

EFI_STATUS PublishVersionString([[maybe_unused]] EFI_PEI_FILE_HANDLE FileHandle,
                                const EFI_PEI_SERVICES** PeiServices) {
  VersionStringPpi* Record = nullptr;
  EFI_STATUS Status = (*PeiServices)->AllocatePool(PeiServices, sizeof(VersionStringPpi), reinterpret_cast<VOID**>(&Record));
  CheckStatus(Status, RecordAllocated);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  // A foundation that answers success or a warning without a block would have
  // the record written at address 0, which flat-mode firmware does not catch.
  if (Record == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  Record->Signature = VersionBlock;
  Record->VersionString = Record->Signature + AsciiStrSize(Record->Signature);

  EFI_PEI_PPI_DESCRIPTOR* Descriptor = nullptr;
  Status = (*PeiServices)->AllocatePool(PeiServices, sizeof(EFI_PEI_PPI_DESCRIPTOR), reinterpret_cast<VOID**>(&Descriptor));
  CheckStatus(Status, DescriptorAllocated);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (Descriptor == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  Descriptor->Flags = EFI_PEI_PPI_DESCRIPTOR_PPI | EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST;
  Descriptor->Guid = const_cast<EFI_GUID*>(&VersionStringPpiGuid);
  Descriptor->Ppi = Record;
  return (*PeiServices)->InstallPpi(PeiServices, Descriptor);
}
