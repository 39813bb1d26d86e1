// Boots the module on the simulated board and shows what it left behind.
#include <cstdio>

#include "Board.h"
#include "Library/PeimEntryPoint.h"
#include "PeiFoundation.h"
#include "Ppi/VersionString.h"

int main() {
  Sim::Board Board;
  Sim::PeiFoundation Foundation;
  const EFI_STATUS Status = ModuleEntry(nullptr, Foundation.Services());
  std::printf("ModuleEntry returned 0x%08X\n", Status);
  VersionStringPpi* Record = nullptr;
  if (Foundation.LocatePpi(VersionStringPpiGuid, 0, nullptr, reinterpret_cast<VOID**>(&Record)) == EFI_SUCCESS) {
    std::printf("VersionStringPpi  signature \"%s\"  version \"%s\"\n", Record->Signature, Record->VersionString);
  } else {
    std::printf("VersionStringPpi  not installed\n");
  }
  std::printf("pool %zu bytes in %u allocations; %llu port accesses; %u breakpoints\n", Foundation.PoolUsed(),
              Foundation.Allocations(), static_cast<unsigned long long>(Board.PortAccesses()), Board.Breakpoints());
  return EFI_ERROR(Status) ? 1 : 0;
}
