// The module's own routine.
#pragma once

#include "Pi/PeiServices.h"

EFI_STATUS PublishVersionString(EFI_PEI_FILE_HANDLE FileHandle, const EFI_PEI_SERVICES** PeiServices);
