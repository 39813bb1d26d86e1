// The image entry point: every library constructor runs before the module's own routine.
#include "Library/DebugLib.h"
#include "Library/PeimEntryPoint.h"

namespace {
// Check sites: the line numbers are fixed report coordinates, not lines of this file.
constexpr CheckSite RevisionSupported = {"Library/PeimEntryPoint/PeimEntryPoint.cpp", 46,
                                         "(*PeiServices)->Hdr.Revision >= _gPeimRevision"};
}  // namespace

extern "C" EFI_STATUS EFIAPI ModuleEntry(EFI_PEI_FILE_HANDLE FileHandle, const EFI_PEI_SERVICES** PeiServices) {
  // The table is read only when a revision is required and checks are on.
  if constexpr (Settings::_gPeimRevision != 0 && AssertChecksEnabled()) {
    Check((*PeiServices)->Hdr.Revision >= Settings::_gPeimRevision, RevisionSupported);
  }
  RunLibraryConstructors(FileHandle, PeiServices);
  return RunModuleEntryPoints(FileHandle, PeiServices);
}
