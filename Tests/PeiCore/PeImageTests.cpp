// The PE32 checks both loaders make, on the module's own image: placed with
// its fix-ups (image mode), or rebased to where it lies and run in place (the
// QEMU core). Each damaged header is refused with its own reason.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "InPlace.h"
#include "PeFormat.h"
#include "PeLoader.h"

namespace {
using Bytes = std::vector<UINT8>;

UINT32 AddressOf(const void* Pointer) { return static_cast<UINT32>(reinterpret_cast<UINTN>(Pointer)); }
UINT32 Get32(const Bytes& File, UINT32 At) { return PeFormat::Read32(File.data() + At); }
UINT16 Get16(const Bytes& File, UINT32 At) { return PeFormat::Read16(File.data() + At); }
void Put32(Bytes& File, UINT32 At, UINT32 Value) { std::memcpy(File.data() + At, &Value, sizeof Value); }
void Put16(Bytes& File, UINT32 At, UINT16 Value) { std::memcpy(File.data() + At, &Value, sizeof Value); }

// Where the fields sit, read from the image's own headers.
UINT32 Pe(const Bytes& File) { return Get32(File, 0x3C); }
UINT32 Optional(const Bytes& File) { return Pe(File) + 24; }
UINT32 FirstSection(const Bytes& File) { return Optional(File) + Get16(File, Pe(File) + 20); }
UINT32 Directory(const Bytes& File, UINT32 Index) { return Optional(File) + 96 + 8 * Index; }

struct Damage {
  const char* What;
  std::function<void(Bytes&)> Apply;
  const char* InPlaceReason;  // null: the in-place check takes it
  const char* PlaceReason;    // null: the loader takes it
};

const Damage Damages[] = {
    {"no damage", [](Bytes&) {}, nullptr, nullptr},
    {"MZ", [](Bytes& F) { F[0] = 'X'; }, "no MZ header", "not a PE32 image (no MZ header)"},
    {"PE signature", [](Bytes& F) { F[Pe(F)] = 'X'; }, "no PE signature", "not a PE32 image (no PE signature)"},
    {"PE header past the end", [](Bytes& F) { Put32(F, 0x3C, 0x7FFFFFF0); }, "no PE signature",
     "not a PE32 image (no PE signature)"},
    {"machine", [](Bytes& F) { Put16(F, Pe(F) + 4, 0x8664); }, "not an executable PE32 image for i386",
     "the image is for another machine than i386"},
    {"not executable", [](Bytes& F) { Put16(F, Pe(F) + 22, 0); }, "not an executable PE32 image for i386",
     "not an executable image with relocations"},
    {"relocations stripped", [](Bytes& F) { Put16(F, Pe(F) + 22, static_cast<UINT16>(Get16(F, Pe(F) + 22) | 1)); },
     nullptr, "not an executable image with relocations"},
    {"PE32+", [](Bytes& F) { Put16(F, Optional(F), 0x20B); }, "not an executable PE32 image for i386",
     "optional header is not PE32"},
    {"subsystem", [](Bytes& F) { Put16(F, Optional(F) + 68, 0x0A); }, "subsystem is not EFI boot service driver",
     "subsystem is not EFI boot service driver"},
    {"optional header too short", [](Bytes& F) { Put16(F, Pe(F) + 20, 90); }, "not an executable PE32 image for i386",
     "optional header too short for the relocation directory"},
    {"imports", [](Bytes& F) { Put32(F, Directory(F, 1) + 4, 40); }, "the image imports symbols",
     "the image imports symbols"},
    {"file alignment", [](Bytes& F) { Put32(F, Optional(F) + 36, Get32(F, Optional(F) + 36) * 2); },
     "section alignment differs from file alignment, so the image cannot run in place",
     "section alignment differs from file alignment, so the image cannot run in place"},
    {"entry point", [](Bytes& F) { Put32(F, Optional(F) + 16, 0x00F00000); },
     "image size, header size or entry point out of range", "image size, header size or entry point out of range"},
    {"section count", [](Bytes& F) { Put16(F, Pe(F) + 6, 0xFFFF); }, "section table outside the image",
     "section table outside the file"},
    {"section moved in the file", [](Bytes& F) { Put32(F, FirstSection(F) + 20, Get32(F, FirstSection(F) + 20) + 32); },
     "a section's address differs from its file offset, so the image cannot run in place", nullptr},
    {"section larger in memory", [](Bytes& F) { Put32(F, FirstSection(F) + 8, Get32(F, FirstSection(F) + 16) + 32); },
     "a section is larger in memory than in the file", nullptr},
    {"writable section",
     [](Bytes& F) { Put32(F, FirstSection(F) + 36, Get32(F, FirstSection(F) + 36) | 0x80000000); }, nullptr,
     "a section is writable, so the image cannot run in place from flash"},
    {"no relocations", [](Bytes& F) { Put32(F, Directory(F, 5) + 4, 0); }, nullptr,
     "no base relocation directory inside the image"},
};

class PeImage : public ::testing::Test {
protected:
  void SetUp() override {
    std::ifstream File(QEL_GOOD_IMAGE, std::ios::binary);
    if (!File) {
      GTEST_SKIP() << "no image " << QEL_GOOD_IMAGE << ": build the firmware preset first";
    }
    Linked.assign(std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>());
  }
  // The image as a flash-layout step leaves it: rebased to where Flash holds it.
  Bytes InPlace() const {
    Bytes Flash(1u << 20);
    LoadedImage Placed{};
    EXPECT_EQ(PlaceImage(Linked.data(), static_cast<UINT32>(Linked.size()), AddressOf(Flash.data()), Flash.data(),
                         static_cast<UINT32>(Flash.size()), Placed),
              nullptr);
    Flash.resize(Placed.Size);  // shrinking keeps the bytes where they are
    Put32(Flash, Optional(Flash) + 28, AddressOf(Flash.data()));
    return Flash;
  }
  Bytes Linked;
};
}  // namespace

TEST_F(PeImage, DamagedHeaders_AreRefusedByBothLoadersWithTheirReasons) {
  for (const Damage& Each : Damages) {
    Bytes Flash = InPlace();
    Each.Apply(Flash);
    LoadedImage Checked{};
    const CHAR8* InPlaceWhy = CheckImageInPlace(AddressOf(Flash.data()), static_cast<UINT32>(Flash.size()), Checked);
    EXPECT_STREQ(InPlaceWhy, Each.InPlaceReason) << Each.What;

    Bytes File = Linked;
    Each.Apply(File);
    Bytes Memory(1u << 20);
    LoadedImage Placed{};
    const CHAR8* PlaceWhy = PlaceImage(File.data(), static_cast<UINT32>(File.size()), 0x00800000, Memory.data(),
                                       static_cast<UINT32>(Memory.size()), Placed);
    EXPECT_STREQ(PlaceWhy, Each.PlaceReason) << Each.What;
  }
}

TEST_F(PeImage, RebasedImage_RunsInPlaceWithoutAFixUp) {
  const Bytes Flash = InPlace();
  const UINT32 At = AddressOf(Flash.data());
  LoadedImage Checked{};
  ASSERT_EQ(CheckImageInPlace(At, static_cast<UINT32>(Flash.size()), Checked), nullptr);
  EXPECT_EQ(Checked.Address, At);
  EXPECT_EQ(Checked.PreferredBase, At);
  EXPECT_EQ(Checked.Relocations, 0u);
  EXPECT_EQ(Checked.Entry, At + Get32(Flash, Optional(Flash) + 16));
  EXPECT_STREQ(SectionOf(Checked, Get32(Flash, Optional(Flash) + 16)), ".text");
  // Not rebased for where it lies: the image as linked, at base 0.
  Bytes AsLinked = Flash;
  Put32(AsLinked, Optional(AsLinked) + 28, 0);
  EXPECT_STREQ(CheckImageInPlace(AddressOf(AsLinked.data()), static_cast<UINT32>(AsLinked.size()), Checked),
               "its image base is not the address where it lies: not rebased for this flash");
}

TEST_F(PeImage, PlacedImage_HasEveryFixUpMadeForItsAddress) {
  Bytes Memory(1u << 20);
  LoadedImage Placed{};
  ASSERT_EQ(PlaceImage(Linked.data(), static_cast<UINT32>(Linked.size()), 0x00800000, Memory.data(),
                       static_cast<UINT32>(Memory.size()), Placed),
            nullptr);
  EXPECT_EQ(Placed.Address, 0x00800000u);
  EXPECT_EQ(Placed.PreferredBase, 0u);
  EXPECT_GT(Placed.Relocations, 10u);
  EXPECT_EQ(Placed.Entry, 0x00800000u + Get32(Linked, Optional(Linked) + 16));
  EXPECT_STREQ(PlaceImage(Linked.data(), static_cast<UINT32>(Linked.size()), 0x00800000, Memory.data(), 0x100, Placed),
               "the image is larger than the memory given for it");
}
