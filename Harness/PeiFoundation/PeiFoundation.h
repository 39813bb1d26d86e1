// The stand-in PEI Foundation: a pool, a PPI database and failure switches.
// Written freestanding (fixed arrays, no heap, no exceptions, no constructors
// that must run) so that the host board, the QEMU stand-in and a module run
// by a CPU emulator share it. It works on the module's 32-bit addresses and
// reads what the module hands it through a MemoryView, so the module may live
// in another address space than the foundation.
#pragma once

#include "Pi/PeiServices.h"

namespace Pei {

using Address = UINT32;

// How the foundation reads the module's memory.
struct MemoryView {
  // Copies Size bytes at From into Into; false when they cannot all be read.
  bool (*Read)(const void* Context, Address From, void* Into, UINT32 Size);
  const void* Context;
};

// Reads this address space directly (host build, QEMU stand-in).
MemoryView SameAddressSpace();

// What the foundation gets wrong on purpose. Built by name, so that a reader
// sees which failure a scenario asks for: FailureSwitches::Allocation(2),
// FailureSwitches::Install(EFI_OUT_OF_RESOURCES), or one with the other.
struct FailureSwitches {
  UINT32 FailingAllocation = 0;  // 1-based; 0 for none
  EFI_STATUS AllocationStatus = EFI_OUT_OF_RESOURCES;
  bool InstallFails = false;
  EFI_STATUS InstallStatus = EFI_SUCCESS;

  static constexpr FailureSwitches None() { return {}; }
  // The Nth AllocatePool answers Status and gives no block, even when Status
  // is no error (a foundation that claims success).
  static constexpr FailureSwitches Allocation(UINT32 Nth, EFI_STATUS Status = EFI_OUT_OF_RESOURCES) {
    return None().WithAllocation(Nth, Status);
  }
  // InstallPpi answers Status without installing.
  static constexpr FailureSwitches Install(EFI_STATUS Status) { return None().WithInstall(Status); }

  constexpr FailureSwitches WithAllocation(UINT32 Nth, EFI_STATUS Status = EFI_OUT_OF_RESOURCES) const {
    FailureSwitches With = *this;
    With.FailingAllocation = Nth;
    With.AllocationStatus = Status;
    return With;
  }
  constexpr FailureSwitches WithInstall(EFI_STATUS Status) const {
    FailureSwitches With = *this;
    With.InstallFails = true;
    With.InstallStatus = Status;
    return With;
  }
};

class Foundation {
public:
  static constexpr UINT32 MaxBlocks = 16;
  static constexpr UINT32 MaxPpis = 16;
  static constexpr UINT32 PoolAlignment = 8;  // as PI requires of pool blocks
  static constexpr UINT8 PoolPaint = 0xAF;
  // The services table this foundation stands behind: its header's
  // signature, and the revision it carries unless a scenario sets another.
  static constexpr UINT64 ServicesSignature = 0x5652455320494550ull;  // "PEI SERV"
  static constexpr UINT32 DefaultRevision = 0x00010046;                // PI 1.70

  struct Block {
    Address At;
    UINT32 Size;
  };

  // Starts empty. The pool is Bytes of Storage, which the module sees at
  // PoolAddress; it is painted so that writes past the blocks show.
  void Reset(MemoryView Memory, UINT8* Storage, Address PoolAddress, UINT32 Bytes, const FailureSwitches& Fail);
  void SetFailures(const FailureSwitches& Fail) { Switches = Fail; }
  const FailureSwitches& Failures() const { return Switches; }

  // The services, on the module's addresses.
  EFI_STATUS AllocatePool(UINT32 Size, Address* Block);
  EFI_STATUS InstallPpi(Address List);
  EFI_STATUS LocatePpi(const EFI_GUID& Guid, UINT32 Instance, Address* Descriptor, Address* Ppi) const;
  void NoteUnexpectedCall(Address Caller);

  // What happened, for reports and tests.
  UINT32 AllocationCalls() const { return Allocations; }
  // The allocation that failed on purpose once the module asked for it (0:
  // none yet), and the status it answered with.
  UINT32 FailedAllocation() const {
    return Switches.FailingAllocation != 0 && Allocations >= Switches.FailingAllocation ? Switches.FailingAllocation : 0;
  }
  EFI_STATUS FailedAllocationStatus() const { return Switches.AllocationStatus; }
  UINT32 BlockCount() const { return Blocks; }
  Block BlockAt(UINT32 Index) const { return Allocated[Index]; }
  bool IsBlock(Address At, UINT32 Size) const;
  bool InPool(Address At, UINT32 Size) const;
  Address PoolBase() const { return PoolAddress; }
  UINT32 PoolUsed() const { return PoolNext; }
  bool PoolTailUntouched() const;  // nothing past the last block was written
  UINT32 InstallCalls() const { return Installs; }
  UINT32 InstalledCount() const { return PpiCount; }
  Address InstalledAt(UINT32 Index) const { return Ppis[Index]; }
  UINT32 UnexpectedCalls() const { return Unexpected; }
  Address LastUnexpectedCaller() const { return LastCaller; }

private:
  // A descriptor as the module laid it out: three 32-bit words.
  struct Descriptor {
    UINT32 Flags;
    Address Guid;
    Address Ppi;
  };
  bool ReadDescriptor(Address At, Descriptor& Into) const;

  MemoryView Memory{};
  FailureSwitches Switches{};
  UINT8* Pool = nullptr;
  Address PoolAddress = 0;
  UINT32 PoolBytes = 0;
  UINT32 PoolNext = 0;
  UINT32 Allocations = 0;
  UINT32 Blocks = 0;
  Block Allocated[MaxBlocks]{};
  UINT32 Installs = 0;
  UINT32 PpiCount = 0;
  Address Ppis[MaxPpis]{};
  UINT32 Unexpected = 0;
  Address LastCaller = 0;
};

}  // namespace Pei
