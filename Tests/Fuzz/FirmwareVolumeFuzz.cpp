// The PEI core's flash reader on arbitrary bytes: whatever a volume holds, the
// reader stays inside it (the volume is copied into a buffer of exactly its
// length, so AddressSanitizer sees any read past it), the file walk always
// moves on, and what it hands back as a good file, its sections and its
// dependency expression lie inside that file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FirmwareVolume.h"

namespace {
UINT32 AddressOf(const void* Pointer) { return static_cast<UINT32>(reinterpret_cast<uintptr_t>(Pointer)); }

void Require(bool Holds) {
  if (!Holds) {
    std::abort();
  }
}

bool Inside(UINT32 Address, UINT32 Size, UINT32 First, UINT32 Length) {
  return Address >= First && Size <= Length && Address - First <= Length - Size;
}

// A PPI counts as installed when its GUID's first byte is odd, so both
// branches of every PUSH are taken.
bool Installed(const EFI_GUID& Guid, void*) { return (Guid.Data1 & 1) != 0; }

void Walk(const Ffs::Volume& Volume) {
  UINT32 Offset = Volume.FirstFile;
  for (unsigned Files = 0;; ++Files) {
    Require(Files <= Volume.Length / 24 + 1);  // every file takes a header at least
    const Ffs::FileStep Step = Ffs::ReadFile(Volume, Offset);
    if (Step.Kind == Ffs::Step::End || Step.Kind == Ffs::Step::Broken) {
      return;
    }
    Require(Step.Next > Offset);
    if (Step.Kind == Ffs::Step::Found) {
      const Ffs::File& File = Step.Found;
      Require(File.Address == Volume.Address + Offset);
      Require(Inside(File.Data, File.DataSize, Volume.Address, Volume.Length));
      const Ffs::FileSections Sections = Ffs::FindSections(File);
      if (Sections.Problem == nullptr) {
        for (const Ffs::Span& Each : {Sections.Depex, Sections.Pe32, Sections.Name}) {
          Require(Each.Address == 0 || Inside(Each.Address, Each.Size, File.Data, File.DataSize));
        }
        if (Sections.Depex.Address != 0) {
          Ffs::EvaluateDepex(reinterpret_cast<const UINT8*>(static_cast<uintptr_t>(Sections.Depex.Address)),
                             Sections.Depex.Size, &Installed, nullptr);
        }
      }
    }
    Offset = Step.Next;
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size > 1 << 20) {
    return -1;
  }
  std::vector<UINT8> Flash(Data, Data + Size);
  Flash.shrink_to_fit();
  Ffs::Volume Found{};
  if (Size == 0 || Ffs::CheckVolume(AddressOf(Flash.data()), static_cast<UINT32>(Size), Found) != nullptr) {
    return 0;
  }
  Require(Found.Address == AddressOf(Flash.data()) && Found.Length <= Size && Found.FirstFile <= Found.Length);
  // The volume alone, in a buffer of exactly its length.
  auto* Volume = static_cast<UINT8*>(std::malloc(Found.Length == 0 ? 1 : Found.Length));
  std::memcpy(Volume, Flash.data(), Found.Length);
  Ffs::Volume Alone = Found;
  Alone.Address = AddressOf(Volume);
  Walk(Alone);
  std::free(Volume);
  return 0;
}
