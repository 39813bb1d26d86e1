// Finding a runner variant by the names a person gives.
#include "RunnerVariants.h"

#include <cstring>
#include <string>

const RunnerVariant* FindRunnerVariant(const char* Given) {
  for (size_t Index = 0; Index < RunnerVariantCount; ++Index) {
    const RunnerVariant* Each = RunnerVariants[Index];
    if (std::strcmp(Each->Name, Given) == 0 || std::strcmp(Each->Alias, Given) == 0) {
      return Each;
    }
  }
  return nullptr;
}

const RunnerVariant* RunnerVariantOfImage(const char* FileName) {
  // The firmware build writes X.efi with its twins X.debug.efi (DWARF) and
  // X.rebased.efi (as the volume holds it): the same build's code.
  std::string Name = FileName;
  for (const char* Twin : {".debug.efi", ".rebased.efi"}) {
    const size_t Length = std::strlen(Twin);
    if (Name.size() > Length && Name.compare(Name.size() - Length, Length, Twin) == 0) {
      Name = Name.substr(0, Name.size() - Length) + ".efi";
    }
  }
  for (size_t Index = 0; Index < RunnerVariantCount; ++Index) {
    if (Name == RunnerVariants[Index]->ImageFile) {
      return RunnerVariants[Index];
    }
  }
  return nullptr;
}
