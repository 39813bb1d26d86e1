// The PEI core's reading of flash, on volumes built in memory: what it
// accepts, what it skips by name, and where its walk must stop.
#include "FirmwareVolume.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {
constexpr EFI_GUID Ppi = {0x17632CBE, 0x6C80, 0x49B6, {0x82, 0x07, 0x12, 0xB5, 0x3D, 0x9B, 0x25, 0x70}};
constexpr EFI_GUID Missing = {0x9D3B1E57, 0x2A64, 0x4C80, {0xB1, 0xF9, 0x06, 0xE4, 0xC8, 0xA2, 0x7D, 0x35}};
constexpr UINT8 FileSystem2[] = {0x78, 0xE5, 0x8C, 0x8C, 0x3D, 0x8A, 0x1C, 0x4F,
                                 0x99, 0x35, 0x89, 0x61, 0x85, 0xC3, 0x2D, 0xD3};
constexpr UINT32 VolumeBytes = 0x1000;
constexpr UINT32 FirstFile = 0x48;
constexpr UINT8 StateValid = 0x07;

UINT32 AddressOf(const void* Pointer) { return static_cast<UINT32>(reinterpret_cast<UINTN>(Pointer)); }

// An erase-polarity-1 volume of one 4 KiB block, and a file writer that sets
// both checksums the way the packing tool does.
class FlashVolume {
public:
  FlashVolume() : Bytes(VolumeBytes, 0xFF) {
    std::fill(Bytes.begin(), Bytes.begin() + FirstFile, 0);
    std::memcpy(&Bytes[16], FileSystem2, sizeof(FileSystem2));
    Put32(32, VolumeBytes);
    std::memcpy(&Bytes[40], "_FVH", 4);
    Put32(44, 0x00000E06);  // readable, memory-mapped, erase polarity 1
    Put16(48, FirstFile);
    Bytes[55] = 2;
    Put32(56, 1);
    Put32(60, VolumeBytes);
    SealHeader();
  }

  void SealHeader() {
    Put16(50, 0);
    UINT16 Sum = 0;
    for (UINT32 Offset = 0; Offset < FirstFile; Offset += 2) {
      Sum = static_cast<UINT16>(Sum + (Bytes[Offset] | (Bytes[Offset + 1] << 8)));
    }
    Put16(50, static_cast<UINT16>(-Sum));
  }

  // Writes a file with the given sections' bytes at Offset; returns the offset after it.
  UINT32 AddFile(UINT32 Offset, UINT8 Type, const std::vector<UINT8>& Data, UINT8 State = StateValid) {
    const UINT32 Size = 24 + static_cast<UINT32>(Data.size());
    std::fill(Bytes.begin() + Offset, Bytes.begin() + Offset + 24, 0);
    Bytes[Offset] = static_cast<UINT8>(Offset);  // a name per file
    Bytes[Offset + 18] = Type;
    Bytes[Offset + 19] = 0x40;  // data checksum present
    Put24(Offset + 20, Size);
    UINT8 Sum = 0;
    for (UINT32 Index = 0; Index < 24; ++Index) {
      Sum = static_cast<UINT8>(Sum + Bytes[Offset + Index]);
    }
    Bytes[Offset + 16] = static_cast<UINT8>(-Sum);
    UINT8 DataSum = 0;
    for (const UINT8 Byte : Data) {
      DataSum = static_cast<UINT8>(DataSum + Byte);
    }
    Bytes[Offset + 17] = static_cast<UINT8>(-DataSum);
    Bytes[Offset + 23] = static_cast<UINT8>(~State);
    std::copy(Data.begin(), Data.end(), Bytes.begin() + Offset + 24);
    return (Offset + Size + 7) & ~7u;
  }

  void Put16(UINT32 At, UINT16 Value) { std::memcpy(&Bytes[At], &Value, 2); }
  void Put24(UINT32 At, UINT32 Value) { std::memcpy(&Bytes[At], &Value, 3); }
  void Put32(UINT32 At, UINT32 Value) { std::memcpy(&Bytes[At], &Value, 4); }
  UINT32 Address() const { return AddressOf(Bytes.data()); }

  const CHAR8* Check(Ffs::Volume& Found) const { return Ffs::CheckVolume(Address(), VolumeBytes, Found); }
  Ffs::Volume Checked() const {
    Ffs::Volume Found{};
    EXPECT_EQ(Check(Found), nullptr);
    return Found;
  }

  std::vector<UINT8> Bytes;
};

std::vector<UINT8> Section(UINT8 Type, std::vector<UINT8> Body) {
  const UINT32 Size = 4 + static_cast<UINT32>(Body.size());
  std::vector<UINT8> Result = {static_cast<UINT8>(Size), static_cast<UINT8>(Size >> 8), static_cast<UINT8>(Size >> 16),
                               Type};
  for (const UINT8 Byte : Body) {
    Result.push_back(Byte);
  }
  while (Result.size() % 4 != 0) {
    Result.push_back(0);
  }
  return Result;
}

std::vector<UINT8> Join(std::initializer_list<std::vector<UINT8>> Parts) {
  std::vector<UINT8> Result;
  for (const auto& Part : Parts) {
    for (const UINT8 Byte : Part) {
      Result.push_back(Byte);
    }
  }
  return Result;
}

std::vector<UINT8> Push(const EFI_GUID& Guid) {
  std::vector<UINT8> Result = {0x02};
  const auto* Bytes = reinterpret_cast<const UINT8*>(&Guid);
  for (UINT32 Index = 0; Index < sizeof(Guid); ++Index) {
    Result.push_back(Bytes[Index]);
  }
  return Result;
}

bool OnlyPpiInstalled(const EFI_GUID& Guid, void*) { return SameGuid(Guid, Ppi); }

Ffs::Evaluation Evaluate(const std::vector<UINT8>& Expression) {
  return Ffs::EvaluateDepex(Expression.data(), static_cast<UINT32>(Expression.size()), &OnlyPpiInstalled, nullptr);
}
}  // namespace

TEST(DependencyExpression, WellFormed_EvaluatesAgainstInstalledPpis) {
  const struct {
    std::vector<UINT8> Expression;
    Ffs::Verdict Expected;
  } Cases[] = {
      {{0x06, 0x08}, Ffs::Verdict::True},
      {{0x07, 0x08}, Ffs::Verdict::False},
      {Join({Push(Ppi), {0x08}}), Ffs::Verdict::True},
      {Join({Push(Missing), {0x08}}), Ffs::Verdict::False},
      {Join({Push(Missing), {0x05, 0x08}}), Ffs::Verdict::True},
      {Join({Push(Ppi), Push(Missing), {0x03, 0x08}}), Ffs::Verdict::False},
      {Join({Push(Ppi), Push(Missing), {0x04, 0x08}}), Ffs::Verdict::True},
      {{0x06, 0x07, 0x04, 0x05, 0x08}, Ffs::Verdict::False},
      {{0x06, 0x08, 0x03}, Ffs::Verdict::True},  // what follows END is not read
  };
  for (const auto& Case : Cases) {
    const Ffs::Evaluation Result = Evaluate(Case.Expression);
    EXPECT_EQ(Result.Result, Case.Expected);
    EXPECT_EQ(Result.Why, nullptr);
  }
}

TEST(DependencyExpression, Malformed_IsRefusedWithAReason) {
  std::vector<UINT8> TooDeep(17, 0x06);
  TooDeep.push_back(0x08);
  std::vector<UINT8> CutPush = Push(Ppi);
  CutPush.resize(10);
  const std::vector<UINT8> Cases[] = {
      {},           {0x06},       {0x03, 0x08}, {0x06, 0x03, 0x08}, {0x05, 0x08}, {0x08},
      {0x06, 0x06, 0x08}, {0x00, 0x08}, {0x09, 0x08}, {0x0A, 0x08}, CutPush, TooDeep,
  };
  for (const auto& Expression : Cases) {
    const Ffs::Evaluation Result = Evaluate(Expression);
    EXPECT_EQ(Result.Result, Ffs::Verdict::Malformed) << Expression.size() << " bytes";
    EXPECT_NE(Result.Why, nullptr);
  }
}

TEST(VolumeHeader, Sound_GivesLengthPolarityAndFirstFile) {
  FlashVolume Volume;
  const Ffs::Volume Found = Volume.Checked();
  EXPECT_EQ(Found.Address, Volume.Address());
  EXPECT_EQ(Found.Length, VolumeBytes);
  EXPECT_EQ(Found.FirstFile, FirstFile);
  EXPECT_TRUE(Found.ErasePolarity);
}

TEST(VolumeHeader, EachDamage_IsNamed) {
  const struct {
    void (*Damage)(FlashVolume&);
    const char* Expected;
  } Cases[] = {
      {[](FlashVolume& V) { V.Bytes[50] ^= 1; }, "its header checksum is wrong"},
      {[](FlashVolume& V) { V.Put32(32, 2 * VolumeBytes); V.SealHeader(); }, "its length runs past the end of the flash"},
      {[](FlashVolume& V) { V.Put32(36, 1); V.SealHeader(); }, "its length runs past the end of the flash"},
      {[](FlashVolume& V) { V.Put16(48, 0x47); V.SealHeader(); }, "its header length is wrong"},
      {[](FlashVolume& V) { V.Bytes[16] ^= 1; V.SealHeader(); }, "its file system is not FFS2"},
      {[](FlashVolume& V) { V.Bytes[55] = 1; V.SealHeader(); }, "its header revision is not 2"},
      {[](FlashVolume& V) { V.Put32(56, 2); V.SealHeader(); }, "its block map describes more than its length"},
      {[](FlashVolume& V) { V.Put32(60, 0x800); V.SealHeader(); }, "its block map does not describe its length"},
  };
  for (const auto& Case : Cases) {
    FlashVolume Volume;
    Case.Damage(Volume);
    Ffs::Volume Found{};
    const CHAR8* Why = Volume.Check(Found);
    ASSERT_NE(Why, nullptr) << Case.Expected;
    EXPECT_STREQ(Why, Case.Expected);
  }
}

TEST(FileWalk, GoodFiles_AreFoundInOrderUpToTheFreeSpace) {
  FlashVolume Volume;
  const UINT32 Second = Volume.AddFile(FirstFile, Ffs::FileTypePad, std::vector<UINT8>(5, 0xFF));
  Volume.AddFile(Second, Ffs::FileTypePeim, Section(Ffs::SectionPe32, {1, 2, 3, 4}));
  const Ffs::Volume Found = Volume.Checked();

  const Ffs::FileStep Pad = Ffs::ReadFile(Found, FirstFile);
  ASSERT_EQ(Pad.Kind, Ffs::Step::Found);
  EXPECT_EQ(Pad.Found.Type, Ffs::FileTypePad);
  EXPECT_EQ(Pad.Next, Second);
  const Ffs::FileStep Peim = Ffs::ReadFile(Found, Pad.Next);
  ASSERT_EQ(Peim.Kind, Ffs::Step::Found);
  EXPECT_EQ(Peim.Found.Address, Volume.Address() + Second);
  EXPECT_EQ(Peim.Found.Data, Volume.Address() + Second + 24);
  EXPECT_EQ(Peim.Found.DataSize, 8u);
  EXPECT_EQ(Ffs::ReadFile(Found, Peim.Next).Kind, Ffs::Step::End);
  EXPECT_EQ(Ffs::ReadFile(Found, VolumeBytes - 8).Kind, Ffs::Step::End);  // no room for a header
}

TEST(FileWalk, DamagedFiles_AreSkippedOrEndTheWalk) {
  const struct {
    void (*Damage)(FlashVolume&);
    Ffs::Step Expected;
    const char* Why;
  } Cases[] = {
      {[](FlashVolume& V) { V.Bytes[FirstFile + 19] ^= 0x04; }, Ffs::Step::Broken, "its header checksum is wrong"},
      {[](FlashVolume& V) { V.Bytes[FirstFile + 30] ^= 0x01; }, Ffs::Step::Skip, "its data checksum is wrong"},
      {[](FlashVolume& V) { V.Bytes[FirstFile + 23] = static_cast<UINT8>(~0x01); }, Ffs::Step::Broken,
       "its header is not complete"},
      {[](FlashVolume& V) { V.Bytes[FirstFile + 23] = static_cast<UINT8>(~0x03); }, Ffs::Step::Skip,
       "its data is not marked valid"},
      {[](FlashVolume& V) { V.Bytes[FirstFile + 23] = static_cast<UINT8>(~0x17); }, Ffs::Step::Skip, nullptr},
  };
  for (const auto& Case : Cases) {
    FlashVolume Volume;
    Volume.AddFile(FirstFile, Ffs::FileTypePeim, Section(Ffs::SectionPe32, {1, 2, 3, 4}));
    Case.Damage(Volume);
    const Ffs::FileStep Step = Ffs::ReadFile(Volume.Checked(), FirstFile);
    EXPECT_EQ(Step.Kind, Case.Expected);
    if (Case.Why == nullptr) {
      EXPECT_EQ(Step.Why, nullptr);  // a deleted file is passed over without a word
    } else {
      EXPECT_STREQ(Step.Why, Case.Why);
    }
  }
}

TEST(FileWalk, SizeOutsideTheVolume_EndsTheWalk) {
  for (const UINT32 Size : {16u, VolumeBytes - FirstFile + 1, 0xFFFFFFu}) {
    FlashVolume Volume;
    Volume.AddFile(FirstFile, Ffs::FileTypePeim, {});
    Volume.Put24(FirstFile + 20, Size);
    Volume.Bytes[FirstFile + 16] = 0;
    UINT8 Sum = 0;
    for (UINT32 Index = 0; Index < 24; ++Index) {
      if (Index != 17 && Index != 23) {
        Sum = static_cast<UINT8>(Sum + Volume.Bytes[FirstFile + Index]);
      }
    }
    Volume.Bytes[FirstFile + 16] = static_cast<UINT8>(-Sum);
    const Ffs::FileStep Step = Ffs::ReadFile(Volume.Checked(), FirstFile);
    EXPECT_EQ(Step.Kind, Ffs::Step::Broken) << Size;
  }
}

TEST(Sections, FirstOfEachKind_AreFoundAndOverrunsRefused) {
  FlashVolume Volume;
  const std::vector<UINT8> Data = Join({Section(Ffs::SectionPeiDepex, {0x06, 0x08}), Section(0x19, {0, 0, 0}),
                                        Section(Ffs::SectionPe32, {'M', 'Z', 0, 0, 0, 0, 0, 0}),
                                        Section(Ffs::SectionPe32, {9, 9, 9, 9}),
                                        Section(Ffs::SectionUserInterface, {'Q', 0, 0, 0})});
  Volume.AddFile(FirstFile, Ffs::FileTypePeim, Data);
  const Ffs::FileStep Step = Ffs::ReadFile(Volume.Checked(), FirstFile);
  ASSERT_EQ(Step.Kind, Ffs::Step::Found);
  const Ffs::FileSections Found = Ffs::FindSections(Step.Found);
  EXPECT_EQ(Found.Problem, nullptr);
  EXPECT_EQ(Found.Depex.Address, Step.Found.Data + 4);
  EXPECT_EQ(Found.Depex.Size, 2u);
  EXPECT_EQ(Found.Pe32.Address, Step.Found.Data + 8 + 8 + 4);
  EXPECT_EQ(Found.Pe32.Size, 8u);
  EXPECT_EQ(Found.Name.Size, 4u);

  Ffs::File Short = Step.Found;
  Short.DataSize -= 2;  // the last section now runs past the file's end
  EXPECT_STREQ(Ffs::FindSections(Short).Problem, "a section runs past the end of the file");
  Volume.Bytes[FirstFile + 24] = 2;  // a section smaller than its own header
  Volume.Bytes[FirstFile + 25] = 0;
  EXPECT_STREQ(Ffs::FindSections(Step.Found).Problem, "a section runs past the end of the file");
}
