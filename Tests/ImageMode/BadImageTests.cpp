// The board runner refuses a file it cannot run as the module: one line that
// names what is wrong, exit status 2, and nothing run.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {
using Bytes = std::vector<uint8_t>;

uint32_t Read32(const Bytes& File, uint32_t At) {
  uint32_t Value = 0;
  std::memcpy(&Value, File.data() + At, 4);
  return Value;
}
void Write32(Bytes& File, uint32_t At, uint32_t Value) { std::memcpy(File.data() + At, &Value, 4); }
void Write16(Bytes& File, uint32_t At, uint16_t Value) { std::memcpy(File.data() + At, &Value, 2); }

// PE/COFF offsets, from the file's own headers.
uint32_t PeHeader(const Bytes& File) { return Read32(File, 0x3C); }
uint32_t OptionalHeader(const Bytes& File) { return PeHeader(File) + 24; }
uint32_t SectionTable(const Bytes& File) {
  uint16_t OptionalSize = 0;
  std::memcpy(&OptionalSize, File.data() + PeHeader(File) + 20, 2);
  return OptionalHeader(File) + OptionalSize;
}
uint32_t Directory(const Bytes& File, unsigned Index) { return OptionalHeader(File) + 96 + 8 * Index; }

struct Refusal {
  int Status;
  std::string Output;
};

Refusal RunOn(const Bytes& File, const std::string& Name) {
  const std::string Path = ::testing::TempDir() + "qel-bad-" + Name + ".efi";
  std::ofstream(Path, std::ios::binary).write(reinterpret_cast<const char*>(File.data()), static_cast<std::streamsize>(File.size()));
  const std::string Command = std::string(QEL_HOST_EMULATOR " ") + QEL_RUNNER + " --image " + Path + " 2>&1";
  Refusal Result{-1, ""};
  FILE* Pipe = popen(Command.c_str(), "r");
  if (Pipe == nullptr) {
    return Result;
  }
  char Chunk[256];
  while (std::fgets(Chunk, sizeof Chunk, Pipe) != nullptr) {
    Result.Output += Chunk;
  }
  const int Raw = pclose(Pipe);
  Result.Status = WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1;
  std::remove(Path.c_str());
  return Result;
}

class BadImage : public ::testing::Test {
protected:
  void SetUp() override {
    std::ifstream File(QEL_GOOD_IMAGE, std::ios::binary);
    if (!File) {
      GTEST_SKIP() << "no image " << QEL_GOOD_IMAGE << ": build the firmware preset first";
    }
    Good.assign(std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>());
  }
  void ExpectRefused(const Bytes& File, const std::string& Name, const std::string& Reason) {
    const Refusal Result = RunOn(File, Name);
    EXPECT_EQ(Result.Status, 2) << Result.Output;
    EXPECT_NE(Result.Output.find(Reason), std::string::npos) << Result.Output;
    EXPECT_EQ(Result.Output.find('\n'), Result.Output.size() - 1) << "not one line: " << Result.Output;
  }
  Bytes Good;
};
}  // namespace

TEST_F(BadImage, TheGoodImage_Boots) {
  const Refusal Result = RunOn(Good, "good");
  EXPECT_EQ(Result.Status, 0) << Result.Output;
}

TEST_F(BadImage, TextFile_IsNoPe32) {
  const std::string Text = "this is not an image\n";
  ExpectRefused(Bytes(Text.begin(), Text.end()), "text", "not a PE32 image (no MZ header)");
}

TEST_F(BadImage, EmptyFile_IsNoPe32) { ExpectRefused({}, "empty", "not a PE32 image (no MZ header)"); }

TEST_F(BadImage, OtherMachine_IsNamed) {
  Bytes File = Good;
  Write16(File, PeHeader(File) + 4, 0x8664);  // x64
  ExpectRefused(File, "machine", "the image is for another machine than i386");
}

TEST_F(BadImage, ImportTable_IsRefused) {
  Bytes File = Good;
  Write32(File, Directory(File, 1), 0x200);
  Write32(File, Directory(File, 1) + 4, 40);
  ExpectRefused(File, "imports", "the image imports symbols");
}

TEST_F(BadImage, WritableSection_IsRefused) {
  Bytes File = Good;
  const uint32_t Characteristics = SectionTable(File) + 36;
  Write32(File, Characteristics, Read32(File, Characteristics) | 0x80000000);
  ExpectRefused(File, "writable", "a section is writable, so the image cannot run in place from flash");
}

TEST_F(BadImage, TruncatedFiles_AreNamedWhereTheyEnd) {
  ExpectRefused(Bytes(Good.begin(), Good.begin() + 0x30), "cut-mz", "truncated file: it ends inside the MZ header");
  ExpectRefused(Bytes(Good.begin(), Good.begin() + PeHeader(Good) + 40), "cut-pe",
                "truncated file: it ends inside the PE headers");
  ExpectRefused(Bytes(Good.begin(), Good.begin() + Good.size() / 2), "cut-half",
                "truncated file: a section's data runs past its end");
}

TEST_F(BadImage, RelocationOutsideTheImage_IsRefused) {
  Bytes File = Good;
  // The image runs in place, so the directory's RVA is its file offset.
  const uint32_t Relocations = Read32(File, Directory(File, 5));
  Write32(File, Relocations, 0x7FFFF000);  // the first block's page
  ExpectRefused(File, "relocation", "a base relocation points outside the image");
}

TEST_F(BadImage, MissingFile_IsNamed) {
  const std::string Command =
      std::string(QEL_HOST_EMULATOR " ") + QEL_RUNNER + " --image " + ::testing::TempDir() + "qel-no-such.efi 2>&1";
  FILE* Pipe = popen(Command.c_str(), "r");
  ASSERT_NE(Pipe, nullptr);
  char Line[256] = {};
  ASSERT_NE(std::fgets(Line, sizeof Line, Pipe), nullptr);
  const int Raw = pclose(Pipe);
  EXPECT_EQ(WEXITSTATUS(Raw), 2);
  EXPECT_NE(std::string(Line).find("qel-no-such.efi: cannot be read"), std::string::npos) << Line;
}
