// Guarded buffers, guard pages and slot lists for the format engine's tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "Library/PrintLib.h"
#include "RecordingDebugLib.h"

namespace Recorded {
// Failed comparisons of reports show them as the reporter prints them.
inline void PrintTo(const Assertion& Report, std::ostream* Out) {
  *Out << Report.Path << "(" << Report.Line << "): " << Report.Text;
}
}  // namespace Recorded

namespace PrintTest {
inline constexpr unsigned char GuardByte = 0xA5;
inline constexpr unsigned char UnwrittenByte = 0xCC;
inline constexpr size_t GuardSize = 32;

// Output bytes between guard bands; the inside starts as UnwrittenByte so
// that writes past the terminator show too.
class GuardedBuffer {
public:
  explicit GuardedBuffer(size_t Bytes) : Storage(Bytes + 2 * GuardSize, GuardByte), Bytes(Bytes) {
    std::memset(Data(), UnwrittenByte, Bytes);
  }
  unsigned char* Data() { return Storage.data() + GuardSize; }
  CHAR8* Chars() { return reinterpret_cast<CHAR8*>(Data()); }
  bool GuardsIntact() const {
    for (size_t Index = 0; Index < GuardSize; ++Index) {
      if (Storage[Index] != GuardByte || Storage[GuardSize + Bytes + Index] != GuardByte) {
        return false;
      }
    }
    return true;
  }
  // True when no byte from Offset on was written.
  bool UnwrittenFrom(size_t Offset) const {
    for (size_t Index = Offset; Index < Bytes; ++Index) {
      if (Storage[GuardSize + Index] != UnwrittenByte) {
        return false;
      }
    }
    return true;
  }

private:
  std::vector<unsigned char> Storage;
  size_t Bytes;
};

// Two pages, the second inaccessible: data placed to end at the boundary
// makes any read one byte too far fault.
class GuardPage {
public:
  GuardPage() {
    PageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* Mapped = mmap(nullptr, 2 * PageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (Mapped == MAP_FAILED) {
      ADD_FAILURE() << "mmap failed";
      return;
    }
    Base = static_cast<unsigned char*>(Mapped);
    if (mprotect(Base + PageSize, PageSize, PROT_NONE) != 0) {
      ADD_FAILURE() << "mprotect failed";
    }
  }
  ~GuardPage() {
    if (Base != nullptr) {
      munmap(Base, 2 * PageSize);
    }
  }
  GuardPage(const GuardPage&) = delete;
  GuardPage& operator=(const GuardPage&) = delete;

  // Copies Size bytes so that the last one is the last readable byte.
  const void* Place(const void* Data, size_t Size) {
    unsigned char* At = Base + PageSize - Size;
    std::memcpy(At, Data, Size);
    return At;
  }
  // A narrow text with its terminator as the last readable byte, or without one.
  const CHAR8* PlaceText(const std::string& Text, bool Terminated = true) {
    return static_cast<const CHAR8*>(Place(Text.c_str(), Text.size() + (Terminated ? 1 : 0)));
  }
  const CHAR16* PlaceWide(const std::u16string& Text, bool Terminated = true) {
    return static_cast<const CHAR16*>(Place(Text.c_str(), (Text.size() + (Terminated ? 1 : 0)) * 2));
  }
  const void* End() const { return Base + PageSize; }

private:
  unsigned char* Base = nullptr;
  size_t PageSize = 0;
};

struct Printed {
  std::string Text;  // the bytes before the terminator the engine wrote
  UINTN Length;
};

// Formats through AsciiFormatList into a guarded buffer of Size bytes and
// checks the bound, the terminator and the result on the way.
inline Printed VPrint(UINTN Size, const CHAR8* Format, va_list Arguments) {
  GuardedBuffer Out(Size);
  va_list Copy;
  va_copy(Copy, Arguments);
  const UINTN Length = AsciiFormatList(Out.Chars(), Size, Format, Copy);
  va_end(Copy);
  EXPECT_TRUE(Out.GuardsIntact()) << Format;
  if (Size == 0) {
    EXPECT_EQ(Length, 0u);
    EXPECT_TRUE(Out.UnwrittenFrom(0));
    return {"", Length};
  }
  EXPECT_LT(Length, Size) << Format;
  if (Length >= Size) {
    return {"", Length};
  }
  EXPECT_EQ(Out.Data()[Length], 0) << Format;
  EXPECT_TRUE(Out.UnwrittenFrom(Length + 1)) << Format;
  return {std::string(Out.Chars(), Length), Length};
}

inline std::string Print(const CHAR8* Format, ...) {
  va_list Arguments;
  va_start(Arguments, Format);
  const Printed Result = VPrint(256, Format, Arguments);
  va_end(Arguments);
  EXPECT_EQ(Result.Length, Result.Text.size());
  return Result.Text;
}

inline Printed PrintSized(UINTN Size, const CHAR8* Format, ...) {
  va_list Arguments;
  va_start(Arguments, Format);
  const Printed Result = VPrint(Size, Format, Arguments);
  va_end(Arguments);
  return Result;
}

// Formats from an exact slot list (the engine's second list).
inline std::string PrintSlots(UINTN Flags, const void* Format, const std::vector<UINT32>& Slots, UINTN Size = 256) {
  GuardedBuffer Out(Size * 2);
  const UINTN Length = FormatEngine(Out.Data(), Size, Flags, Format, nullptr, Slots.data());
  EXPECT_TRUE(Out.GuardsIntact());
  if ((Flags & PrintFlags::WideOutput) != 0) {
    std::string Bytes(reinterpret_cast<const char*>(Out.Data()), Length * 2);
    return Bytes;
  }
  return std::string(Out.Chars(), Length);
}

inline UINT32 Slot(const void* Pointer) { return static_cast<UINT32>(reinterpret_cast<uintptr_t>(Pointer)); }

// Resets the recorded reports before each test and expects none unless the
// test takes them.
class PrintTestBase : public ::testing::Test {
protected:
  void SetUp() override { Recorded::Clear(); }
  void TearDown() override {
    if (!ReportsTaken) {
      EXPECT_TRUE(Recorded::Assertions().empty()) << "unexpected report: " << Recorded::Assertions()[0].Path << ":"
                                                  << Recorded::Assertions()[0].Line;
    }
  }
  std::vector<Recorded::Assertion> TakeReports() {
    ReportsTaken = true;
    return Recorded::Assertions();
  }

private:
  bool ReportsTaken = false;
};
}  // namespace PrintTest
