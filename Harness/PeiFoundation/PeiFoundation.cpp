// The stand-in PEI Foundation's pool and PPI database.
#include "PeiFoundation.h"

namespace Pei {
namespace {
bool ReadHere(const void*, Address From, void* Into, UINT32 Size) {
  if (From == 0) {
    return false;
  }
  const auto* Source = reinterpret_cast<const UINT8*>(static_cast<UINTN>(From));
  auto* Target = static_cast<UINT8*>(Into);
  for (UINT32 Index = 0; Index < Size; ++Index) {
    Target[Index] = Source[Index];
  }
  return true;
}

bool SameBytes(const EFI_GUID& Left, const EFI_GUID& Right) {
  const auto* A = reinterpret_cast<const UINT8*>(&Left);
  const auto* B = reinterpret_cast<const UINT8*>(&Right);
  for (UINT32 Index = 0; Index < sizeof(EFI_GUID); ++Index) {
    if (A[Index] != B[Index]) {
      return false;
    }
  }
  return true;
}
}  // namespace

MemoryView SameAddressSpace() { return {&ReadHere, nullptr}; }

void Foundation::Reset(MemoryView View, UINT8* Storage, Address At, UINT32 Bytes, const FailureSwitches& Fail) {
  *this = Foundation{};
  Memory = View;
  Switches = Fail;
  Pool = Storage;
  PoolAddress = At;
  PoolBytes = Bytes;
  for (UINT32 Index = 0; Index < Bytes; ++Index) {
    Pool[Index] = PoolPaint;
  }
}

EFI_STATUS Foundation::AllocatePool(UINT32 Size, Address* Block) {
  ++Allocations;
  // A switched failure hands back no block, whatever status it reports.
  if (Allocations == Switches.FailingAllocation) {
    return Switches.AllocationStatus;
  }
  if (Block == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const UINT32 Start = (PoolNext + PoolAlignment - 1) & ~(PoolAlignment - 1);
  if (Start > PoolBytes || Size > PoolBytes - Start || Blocks == MaxBlocks) {
    return EFI_OUT_OF_RESOURCES;
  }
  PoolNext = Start + Size;
  Allocated[Blocks++] = {PoolAddress + Start, Size};
  *Block = PoolAddress + Start;
  return EFI_SUCCESS;
}

bool Foundation::ReadDescriptor(Address At, Descriptor& Into) const {
  UINT32 Words[3];
  if (At == 0 || !Memory.Read(Memory.Context, At, Words, sizeof(Words))) {
    return false;
  }
  Into = {Words[0], Words[1], Words[2]};
  return true;
}

EFI_STATUS Foundation::InstallPpi(Address List) {
  ++Installs;
  if (Switches.InstallFails) {
    return Switches.InstallStatus;
  }
  // The whole list goes in or none of it does.
  UINT32 Count = 0;
  for (;;) {
    Descriptor Each{};
    if (!ReadDescriptor(List + Count * sizeof(Descriptor), Each)) {
      return EFI_INVALID_PARAMETER;
    }
    if ((Each.Flags & EFI_PEI_PPI_DESCRIPTOR_PPI) == 0 || Each.Guid == 0 || Each.Ppi == 0) {
      return EFI_INVALID_PARAMETER;
    }
    if (Count == MaxPpis - PpiCount) {
      return EFI_OUT_OF_RESOURCES;
    }
    ++Count;
    if ((Each.Flags & EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST) != 0) {
      break;
    }
  }
  for (UINT32 Index = 0; Index < Count; ++Index) {
    Ppis[PpiCount++] = List + Index * sizeof(Descriptor);
  }
  return EFI_SUCCESS;
}

EFI_STATUS Foundation::LocatePpi(const EFI_GUID& Guid, UINT32 Instance, Address* Found, Address* Ppi) const {
  for (UINT32 Index = 0; Index < PpiCount; ++Index) {
    Descriptor Each{};
    EFI_GUID Named{};
    // The GUID is read at each search, as the database holds the module's
    // descriptors, not copies.
    if (!ReadDescriptor(Ppis[Index], Each) || !Memory.Read(Memory.Context, Each.Guid, &Named, sizeof(Named))) {
      continue;
    }
    if (SameBytes(Named, Guid) && Instance-- == 0) {
      if (Found != nullptr) {
        *Found = Ppis[Index];
      }
      if (Ppi != nullptr) {
        *Ppi = Each.Ppi;
      }
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

void Foundation::NoteUnexpectedCall(Address Caller) {
  ++Unexpected;
  LastCaller = Caller;
}

bool Foundation::IsBlock(Address At, UINT32 Size) const {
  for (UINT32 Index = 0; Index < Blocks; ++Index) {
    if (Allocated[Index].At == At && Allocated[Index].Size == Size) {
      return true;
    }
  }
  return false;
}

bool Foundation::InPool(Address At, UINT32 Size) const {
  return At >= PoolAddress && Size <= PoolBytes && At - PoolAddress <= PoolBytes - Size;
}

bool Foundation::PoolTailUntouched() const {
  for (UINT32 Index = PoolNext; Index < PoolBytes; ++Index) {
    if (Pool[Index] != PoolPaint) {
      return false;
    }
  }
  return true;
}

}  // namespace Pei
