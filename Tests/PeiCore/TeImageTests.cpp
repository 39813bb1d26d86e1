// The QEMU core's TE checks and relocating copy, on the module's own image in
// TE form: each damaged header field is refused with its own reason, and the
// relocated copy holds the very bytes the PE32 loader makes of the PE32 for
// the same base.
#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "PeFormat.h"
#include "PeLoader.h"
#include "TeImage.h"

namespace {
using Bytes = std::vector<UINT8>;

Bytes ReadFile(const char* Path) {
  std::ifstream File(Path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>());
}
UINT32 AddressOf(const void* Pointer) { return static_cast<UINT32>(reinterpret_cast<UINTN>(Pointer)); }
UINT32 Get32(const Bytes& File, UINT32 At) { return PeFormat::Read32(File.data() + At); }
void Put32(Bytes& File, UINT32 At, UINT32 Value) { std::memcpy(File.data() + At, &Value, sizeof Value); }
void Put16(Bytes& File, UINT32 At, UINT16 Value) { std::memcpy(File.data() + At, &Value, sizeof Value); }

constexpr UINT32 FirstSection = TeImage::HeaderBytes;

struct Damage {
  const char* What;
  std::function<void(Bytes&)> Apply;
  const char* Reason;
};

const Damage Damages[] = {
    {"no damage", [](Bytes&) {}, nullptr},
    {"cut short", [](Bytes& T) { T.resize(30); }, "its TE header is cut short"},
    {"signature", [](Bytes& T) { T[1] = 'X'; }, "its TE header has no VZ signature"},
    {"machine", [](Bytes& T) { Put16(T, 2, 0x8664); }, "its TE header names another machine than i386"},
    {"subsystem", [](Bytes& T) { T[5] = 0x0A; }, "its TE header's subsystem is not EFI boot service driver"},
    {"stripped size", [](Bytes& T) { Put16(T, 6, 24); }, "its TE header's stripped size is smaller than the header"},
    {"image base above 4 GiB", [](Bytes& T) { Put32(T, 20, 1); }, "its TE header's image base lies above 4 GiB"},
    {"section count", [](Bytes& T) { T[4] = 0xFF; }, "its TE section table runs past the image"},
    {"section moved", [](Bytes& T) { Put32(T, FirstSection + 20, Get32(T, FirstSection + 20) + 32); },
     "a TE section is laid out otherwise in memory than in the file"},
    {"section larger in memory", [](Bytes& T) { Put32(T, FirstSection + 8, Get32(T, FirstSection + 16) + 4); },
     "a TE section is laid out otherwise in memory than in the file"},
    {"section past the end", [](Bytes& T) { T.resize(T.size() - 64); }, "a TE section's data lies outside the image"},
    {"writable section", [](Bytes& T) { Put32(T, FirstSection + 36, Get32(T, FirstSection + 36) | 0x80000000); },
     "a TE section is writable, so the image cannot run from flash"},
    {"entry point", [](Bytes& T) { Put32(T, 8, 0x00F00000); }, "its TE entry point lies outside the image"},
    {"entry point among the stripped headers", [](Bytes& T) { Put32(T, 8, 0x10); },
     "its TE entry point lies outside the image"},
    {"relocation directory", [](Bytes& T) { Put32(T, 28, 0x00F00000); },
     "its TE relocation directory lies outside the image"},
    {"debug directory", [](Bytes& T) { Put32(T, 32, 0x200), Put32(T, 36, 0x00F00000); },
     "its TE debug directory lies outside the image"},
};

class Te : public ::testing::Test {
protected:
  void SetUp() override {
    Linked = ReadFile(QEL_GOOD_TE_IMAGE);
    Pe32 = ReadFile(QEL_GOOD_IMAGE);
    if (Linked.empty() || Pe32.empty()) {
      GTEST_SKIP() << "no " << QEL_GOOD_TE_IMAGE << " or its PE32: build the firmware preset first";
    }
  }
  Bytes Linked;
  Bytes Pe32;
};
}  // namespace

TEST_F(Te, DamagedHeaders_AreRefusedWithTheirReasons) {
  for (const Damage& Each : Damages) {
    Bytes Image = Linked;
    Each.Apply(Image);
    TeImage::Layout Layout;
    EXPECT_STREQ(TeImage::Check(Image.data(), static_cast<UINT32>(Image.size()), Layout), Each.Reason) << Each.What;
  }
}

TEST_F(Te, RebasedForItsPlace_RunsThereWithRvasAsThePe32Has) {
  TeImage::Layout Layout;
  ASSERT_EQ(TeImage::Check(Linked.data(), static_cast<UINT32>(Linked.size()), Layout), nullptr);
  const UINT32 Stripped = Layout.Stripped;
  EXPECT_EQ(Stripped, Get32(Pe32, 0x3C) + 24 + PeFormat::Read16(Pe32.data() + Get32(Pe32, 0x3C) + 20));
  EXPECT_EQ(Linked.size(), Pe32.size() - Stripped + TeImage::HeaderBytes);
  const UINT32 At = AddressOf(Linked.data());
  LoadedImage Loaded;
  TeImage::Describe(At, static_cast<UINT32>(Linked.size()), Layout, Loaded);
  EXPECT_EQ(Loaded.Address, At + TeImage::HeaderBytes - Stripped);
  EXPECT_EQ(Loaded.Unbacked, Stripped - TeImage::HeaderBytes);
  EXPECT_EQ(Loaded.Entry, Loaded.Address + Get32(Pe32, Get32(Pe32, 0x3C) + 24 + 16));
  EXPECT_STREQ(SectionOf(Loaded, Loaded.Entry - Loaded.Address), ".text");
  // The stripped headers are not the image's: nothing there counts as in it.
  EXPECT_FALSE(InImage(Loaded, Loaded.Address, 1));
  EXPECT_TRUE(InImage(Loaded, At, TeImage::HeaderBytes));
}

TEST_F(Te, RelocatedCopy_HoldsWhatThePe32LoaderMakesForTheSameBase) {
  TeImage::Layout Layout;
  ASSERT_EQ(TeImage::Check(Linked.data(), static_cast<UINT32>(Linked.size()), Layout), nullptr);
  Bytes Memory(64 * 1024, 0xCC);
  LoadedImage Relocated;
  ASSERT_EQ(TeImage::Relocate(Linked.data(), static_cast<UINT32>(Linked.size()), Layout, Memory.data(),
                              static_cast<UINT32>(Memory.size()), Relocated),
            nullptr);
  const UINT32 Base = AddressOf(Memory.data());
  EXPECT_EQ(Relocated.Address, Base);
  EXPECT_GT(Relocated.Relocations, 0u);

  Bytes Expected(64 * 1024);
  LoadedImage Placed;
  ASSERT_EQ(PlaceImage(Pe32.data(), static_cast<UINT32>(Pe32.size()), Base, Expected.data(),
                       static_cast<UINT32>(Expected.size()), Placed),
            nullptr);
  EXPECT_EQ(Relocated.Relocations, Placed.Relocations);
  EXPECT_EQ(Relocated.Entry, Placed.Entry);
  // Every section's bytes in memory, relocated alike.
  ASSERT_EQ(Relocated.SectionCount, Placed.SectionCount);
  for (UINT32 Index = 0; Index < Placed.SectionCount; ++Index) {
    const ImageSection& Section = Placed.Sections[Index];
    EXPECT_EQ(Relocated.Sections[Index].Rva, Section.Rva);
    EXPECT_TRUE(std::equal(Memory.begin() + Section.Rva, Memory.begin() + Section.Rva + Section.Size,
                           Expected.begin() + Section.Rva))
        << Section.Name;
  }

  // Too little room, or no relocations to apply: refused, not half done.
  EXPECT_STREQ(TeImage::Relocate(Linked.data(), static_cast<UINT32>(Linked.size()), Layout, Memory.data(), 1024,
                                 Relocated),
               "the TE image is larger than the memory given for it");
  Layout.RelocationSize = 0;
  EXPECT_STREQ(TeImage::Relocate(Linked.data(), static_cast<UINT32>(Linked.size()), Layout, Memory.data(),
                                 static_cast<UINT32>(Memory.size()), Relocated),
               "it is not rebased for this address and has no relocations");
}
