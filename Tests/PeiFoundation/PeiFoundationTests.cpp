// The stand-in PEI Foundation as a module meets it through the services table,
// and its core serving a module whose memory lies elsewhere.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "NativeServices.h"

namespace {
constexpr EFI_GUID First = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr EFI_GUID Second = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 9}};
constexpr UINT32 Ppi = EFI_PEI_PPI_DESCRIPTOR_PPI;
constexpr UINT32 Last = EFI_PEI_PPI_DESCRIPTOR_PPI | EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST;

int PpiA = 1;
int PpiB = 2;

struct Services {
  Pei::NativeServices Foundation;
  const EFI_PEI_SERVICES** Handle = Foundation.Services();

  EFI_STATUS Install(const EFI_PEI_PPI_DESCRIPTOR* List) { return (*Handle)->InstallPpi(Handle, List); }
  EFI_STATUS Locate(const EFI_GUID* Guid, UINTN Instance, VOID** Found) {
    return (*Handle)->LocatePpi(Handle, Guid, Instance, nullptr, Found);
  }
  EFI_STATUS Allocate(UINTN Size, VOID** Block) { return (*Handle)->AllocatePool(Handle, Size, Block); }
};

TEST(PeiFoundationInstall, BadListsAreRefusedWholeWithInvalidParameter) {
  Services Module;
  EFI_PEI_PPI_DESCRIPTOR NullGuid[] = {{Last, nullptr, &PpiA}};
  EFI_PEI_PPI_DESCRIPTOR NullPpi[] = {{Last, const_cast<EFI_GUID*>(&First), nullptr}};
  EFI_PEI_PPI_DESCRIPTOR NotAPpi[] = {{EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST, const_cast<EFI_GUID*>(&First), &PpiA}};
  // The first entry is good; the second spoils the list, so neither goes in.
  EFI_PEI_PPI_DESCRIPTOR SecondBad[] = {{Ppi, const_cast<EFI_GUID*>(&First), &PpiA}, {Last, nullptr, &PpiB}};
  EXPECT_EQ(Module.Install(nullptr), EFI_INVALID_PARAMETER);
  for (const EFI_PEI_PPI_DESCRIPTOR* List : {NullGuid, NullPpi, NotAPpi, SecondBad}) {
    EXPECT_EQ(Module.Install(List), EFI_INVALID_PARAMETER);
  }
  EXPECT_EQ(Module.Foundation.InstalledCount(), 0u);
  EXPECT_EQ(Module.Foundation.InstallCalls(), 5u);
  VOID* Found = nullptr;
  EXPECT_EQ(Module.Locate(&First, 0, &Found), EFI_NOT_FOUND);
}

TEST(PeiFoundationInstall, ListIsLocatedByGuidAndInstance) {
  Services Module;
  EFI_PEI_PPI_DESCRIPTOR List[] = {{Ppi, const_cast<EFI_GUID*>(&First), &PpiA},
                                   {Last, const_cast<EFI_GUID*>(&First), &PpiB}};
  ASSERT_EQ(Module.Install(List), EFI_SUCCESS);
  VOID* Found = nullptr;
  EXPECT_EQ(Module.Locate(&First, 0, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, &PpiA);
  EXPECT_EQ(Module.Locate(&First, 1, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, &PpiB);
  EXPECT_EQ(Module.Locate(&First, 2, &Found), EFI_NOT_FOUND);
  EXPECT_EQ(Module.Locate(&Second, 0, &Found), EFI_NOT_FOUND);
  EXPECT_EQ(Module.Locate(nullptr, 0, &Found), EFI_INVALID_PARAMETER);
  EFI_PEI_PPI_DESCRIPTOR* Descriptor = nullptr;
  EXPECT_EQ(Module.Foundation.LocatePpi(First, 1, &Descriptor, nullptr), EFI_SUCCESS);
  EXPECT_EQ(Descriptor, &List[1]);
}

TEST(PeiFoundationInstall, FullDatabase_IsOutOfResourcesAndTakesNothing) {
  Services Module;
  std::vector<EFI_PEI_PPI_DESCRIPTOR> List(Pei::Foundation::MaxPpis + 1, {Ppi, const_cast<EFI_GUID*>(&First), &PpiA});
  List.back().Flags = Last;
  EXPECT_EQ(Module.Install(List.data()), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Module.Foundation.InstalledCount(), 0u);
  EXPECT_EQ(Module.Install(&List[1]), EFI_SUCCESS);  // exactly as many as fit
  EXPECT_EQ(Module.Foundation.InstalledCount(), Pei::Foundation::MaxPpis);
}

TEST(PeiFoundationInstall, FailureSwitch_ReturnsItsStatusAndInstallsNothing) {
  Services Module;
  Module.Foundation.FailInstallPpi(EFI_OUT_OF_RESOURCES);
  EFI_PEI_PPI_DESCRIPTOR List[] = {{Last, const_cast<EFI_GUID*>(&First), &PpiA}};
  EXPECT_EQ(Module.Install(List), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Module.Foundation.InstalledCount(), 0u);
}

TEST(PeiFoundationPool, BlocksAreAlignedCountedAndInThePool) {
  Services Module;
  VOID* A = nullptr;
  VOID* B = nullptr;
  ASSERT_EQ(Module.Allocate(5, &A), EFI_SUCCESS);
  ASSERT_EQ(Module.Allocate(12, &B), EFI_SUCCESS);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(A) % 8, 0u);
  EXPECT_EQ(static_cast<UINT8*>(B) - static_cast<UINT8*>(A), 8);
  EXPECT_TRUE(Module.Foundation.InPool(B, 12));
  EXPECT_TRUE(Module.Foundation.IsBlock(static_cast<UINT32>(reinterpret_cast<uintptr_t>(B)), 12));
  EXPECT_EQ(Module.Foundation.BlockCount(), 2u);
  EXPECT_EQ(Module.Foundation.PoolUsed(), 20u);
  EXPECT_TRUE(Module.Foundation.PoolTailUntouched());
  static_cast<UINT8*>(B)[12] = 0;  // one byte past the last block
  EXPECT_FALSE(Module.Foundation.PoolTailUntouched());
}

TEST(PeiFoundationPool, NthFailure_ReturnsTheChosenStatusWithoutABlock) {
  for (EFI_STATUS Status : {EFI_OUT_OF_RESOURCES, EFI_DEVICE_ERROR, EFI_SUCCESS, EFI_WARN_STALE_DATA}) {
    Services Module;
    Module.Foundation.FailAllocation(2, Status);
    VOID* Block = nullptr;
    EXPECT_EQ(Module.Allocate(8, &Block), EFI_SUCCESS);
    VOID* Missing = &PpiA;
    EXPECT_EQ(Module.Allocate(12, &Missing), Status);
    EXPECT_EQ(Missing, nullptr) << "a failed allocation hands back a null block";
    EXPECT_EQ(Module.Foundation.FailedAllocation(), 2u);
    EXPECT_EQ(Module.Allocate(12, &Block), EFI_SUCCESS) << "only the Nth fails";
    EXPECT_EQ(Module.Foundation.AllocationCalls(), 3u);
    EXPECT_EQ(Module.Foundation.BlockCount(), 2u);
  }
}

TEST(PeiFoundationPool, ExhaustedPoolAndNullPointer_AreRefused) {
  Services Module;
  VOID* Block = nullptr;
  EXPECT_EQ(Module.Allocate(8, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Module.Allocate(Pei::NativeServices::PoolBytes + 1, &Block), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Module.Allocate(0xFFFFFFF0u, &Block), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Module.Allocate(Pei::NativeServices::PoolBytes, &Block), EFI_SUCCESS);
  EXPECT_EQ(Module.Allocate(1, &Block), EFI_OUT_OF_RESOURCES);
}

TEST(PeiFoundationServices, TableHasThePiLayoutAndCountsOtherCalls) {
  Services Module;
  const EFI_PEI_SERVICES& Table = **Module.Handle;
  EXPECT_EQ(Table.Hdr.Signature, 0x5652455320494550ull);
  EXPECT_EQ(Table.Hdr.Revision, Pei::NativeServices::DefaultRevision);
  EXPECT_EQ(Table.Hdr.HeaderSize, sizeof(EFI_PEI_SERVICES));
  EXPECT_EQ(Table.GetBootMode(), EFI_UNSUPPORTED);
  EXPECT_EQ(Table.FreePages(), EFI_UNSUPPORTED);
  EXPECT_EQ(Module.Foundation.UnexpectedCalls(), 2u);
  EXPECT_NE(Module.Foundation.LastUnexpectedCaller(), 0u);
}

// A module whose memory the foundation sees only through a view: guest
// address G is Memory[G - GuestBase].
struct GuestMemory {
  static constexpr Pei::Address GuestBase = 0x00100000;
  std::vector<UINT8> Bytes = std::vector<UINT8>(4096, 0);

  static bool Read(const void* Context, Pei::Address From, void* Into, UINT32 Size) {
    const auto& Self = *static_cast<const GuestMemory*>(Context);
    if (From < GuestBase || From - GuestBase > Self.Bytes.size() || Size > Self.Bytes.size() - (From - GuestBase)) {
      return false;
    }
    std::memcpy(Into, &Self.Bytes[From - GuestBase], Size);
    return true;
  }
  template <typename T>
  void Put(Pei::Address At, const T& Value) {
    std::memcpy(&Bytes[At - GuestBase], &Value, sizeof(T));
  }
};

TEST(PeiFoundationCore, ServesAModuleInAnotherAddressSpace) {
  GuestMemory Guest;
  std::vector<UINT8> PoolStorage(256);
  Pei::Foundation Core;
  Core.Reset({&GuestMemory::Read, &Guest}, PoolStorage.data(), 0x00200000, 256, {});
  Pei::Address Block = 0;
  ASSERT_EQ(Core.AllocatePool(12, &Block), EFI_SUCCESS);
  EXPECT_EQ(Block, 0x00200000u);

  constexpr Pei::Address GuidAt = 0x00100100;
  constexpr Pei::Address ListAt = 0x00100200;
  Guest.Put(GuidAt, Second);
  const UINT32 Descriptor[] = {Last, GuidAt, 0x00200000};
  Guest.Put(ListAt, Descriptor);
  EXPECT_EQ(Core.InstallPpi(0x00100FF8), EFI_INVALID_PARAMETER) << "a list running off the module's memory";
  ASSERT_EQ(Core.InstallPpi(ListAt), EFI_SUCCESS);
  Pei::Address Found = 0;
  Pei::Address PpiAt = 0;
  EXPECT_EQ(Core.LocatePpi(Second, 0, &Found, &PpiAt), EFI_SUCCESS);
  EXPECT_EQ(Found, ListAt);
  EXPECT_EQ(PpiAt, 0x00200000u);
  EXPECT_EQ(Core.LocatePpi(First, 0, &Found, &PpiAt), EFI_NOT_FOUND);
}
}  // namespace
