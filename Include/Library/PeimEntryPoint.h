// The image entry and the generated lists it runs.
#pragma once

#include "Pi/PeiServices.h"

extern "C" EFI_STATUS EFIAPI ModuleEntry(EFI_PEI_FILE_HANDLE FileHandle, const EFI_PEI_SERVICES** PeiServices);

void RunLibraryConstructors(EFI_PEI_FILE_HANDLE FileHandle, const EFI_PEI_SERVICES** PeiServices);
EFI_STATUS RunModuleEntryPoints(EFI_PEI_FILE_HANDLE FileHandle, const EFI_PEI_SERVICES** PeiServices);
