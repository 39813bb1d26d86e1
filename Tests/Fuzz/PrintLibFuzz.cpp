// Drives the format engine with random formats (narrow and wide), slot lists,
// buffer sizes and caller modes, and checks what must always hold: nothing is
// written outside the buffer, the output is terminated when the size is not
// 0, the result is the position of the terminator, MeasureOnly writes nothing
// and counts at least what any real buffer receives, and a short buffer gets
// a prefix of what a long one gets.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Library/PrintLib.h"
#include "RecordingDebugLib.h"

namespace {
constexpr uint8_t Unwritten = 0xCC;
constexpr size_t GuardBytes = 16;
constexpr size_t ArenaZeros = 16;  // terminates any string and covers a GUID read

enum class SlotKind { Value, Pointer };

// Which slots the format takes and which of them are pointers, so that every
// pointer the engine follows lands in memory this target owns.
std::vector<SlotKind> SlotKinds(const std::vector<uint8_t>& Format, size_t Step) {
  auto At = [&](size_t Index) -> uint16_t {
    return Step == 2 ? static_cast<uint16_t>(Format[Index] | (Format[Index + 1] << 8)) : Format[Index];
  };
  std::vector<SlotKind> Kinds;
  size_t Index = 0;
  while (At(Index) != 0) {
    if (At(Index) != '%') {
      Index += Step;
      continue;
    }
    bool Long = false;
    for (Index += Step;; Index += Step) {
      const uint16_t Character = At(Index);
      if (Character == '*') {
        Kinds.push_back(SlotKind::Value);
      } else if (Character == 'l' || Character == 'L') {
        Long = true;
      } else if (Character == 0) {
        break;
      } else if (Character == ' ' || Character == '+' || Character == '-' || Character == ',' || Character == '.' ||
                 (Character >= '0' && Character <= '9')) {
        continue;
      } else {
        if (Character == 's' || Character == 'S' || Character == 'a' || Character == 'g' || Character == 't') {
          Kinds.push_back(SlotKind::Pointer);
        } else if (Character == 'd' || Character == 'u' || Character == 'x' || Character == 'X') {
          Kinds.push_back(SlotKind::Value);
          if (Long) {
            Kinds.push_back(SlotKind::Value);
          }
        } else if (Character == 'p' || Character == 'c' || Character == 'r') {
          Kinds.push_back(SlotKind::Value);
        }
        Index += Step;
        break;
      }
    }
  }
  return Kinds;
}

void Require(bool Holds, const char* What) {
  if (!Holds) {
    std::fprintf(stderr, "PrintLibFuzz: broken: %s\n", What);
    std::abort();
  }
}

struct Output {
  std::vector<uint8_t> Bytes;  // the buffer and a guard band, all Unwritten at first
  UINTN Length;
};

Output Run(UINTN Size, UINTN Flags, const std::vector<uint8_t>& Format, const std::vector<UINT32>& Slots,
           size_t CharacterSize) {
  Output Result{std::vector<uint8_t>(Size * CharacterSize + GuardBytes, Unwritten), 0};
  Result.Length = FormatEngine(Result.Bytes.data(), Size, Flags, Format.data(), nullptr, Slots.data());
  return Result;
}

bool UnwrittenFrom(const std::vector<uint8_t>& Bytes, size_t Offset) {
  for (size_t Index = Offset; Index < Bytes.size(); ++Index) {
    if (Bytes[Index] != Unwritten) {
      return false;
    }
  }
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  FuzzedDataProvider Input(Data, Size);
  const uint8_t Mode = Input.ConsumeIntegral<uint8_t>();
  const UINTN CallerFlags = ((Mode & 1) != 0 ? PrintFlags::WideOutput : 0) |
                            ((Mode & 2) != 0 ? PrintFlags::WideFormat : 0);
  const UINTN BufferSize = Input.ConsumeIntegralInRange<UINTN>(0, 300);
  const size_t CharacterSize = (CallerFlags & PrintFlags::WideOutput) != 0 ? 2 : 1;
  const size_t Step = (CallerFlags & PrintFlags::WideFormat) != 0 ? 2 : 1;

  // The arena holds every string, GUID and time the slots point at.
  std::vector<uint8_t> Arena = Input.ConsumeBytes<uint8_t>(Input.ConsumeIntegralInRange<size_t>(0, 64));
  const size_t ArenaUsed = Arena.size();
  Arena.resize(ArenaUsed + ArenaZeros, 0);

  std::vector<uint8_t> Format = Input.ConsumeBytes<uint8_t>(Input.ConsumeIntegralInRange<size_t>(0, 256));
  Format.resize(Format.size() / Step * Step);  // whole characters only
  Format.resize(Format.size() + Step, 0);       // and the terminator

  std::vector<UINT32> Slots;
  for (const SlotKind Kind : SlotKinds(Format, Step)) {
    const UINT32 Random = Input.ConsumeIntegral<UINT32>();
    if (Kind == SlotKind::Value) {
      Slots.push_back(Random);
    } else if ((Random & 7) == 0) {
      Slots.push_back(0);
    } else {
      const size_t Offset = ArenaUsed == 0 ? 0 : (Random >> 3) % ArenaUsed;
      Slots.push_back(static_cast<UINT32>(reinterpret_cast<uintptr_t>(Arena.data() + Offset)));
    }
  }
  Slots.shrink_to_fit();  // a read past the last slot is a finding

  Recorded::Clear();
  const Output Real = Run(BufferSize, CallerFlags, Format, Slots, CharacterSize);
  if (BufferSize == 0) {
    Require(Real.Length == 0 && UnwrittenFrom(Real.Bytes, 0), "size 0 writes nothing");
  } else {
    Require(Real.Length < BufferSize, "one character is kept for the terminator");
    for (size_t Byte = 0; Byte < CharacterSize; ++Byte) {
      Require(Real.Bytes[Real.Length * CharacterSize + Byte] == 0, "terminated at the result");
    }
    Require(UnwrittenFrom(Real.Bytes, (Real.Length + 1) * CharacterSize), "nothing after the terminator");
  }

  const UINTN Measured = FormatEngine(nullptr, 0, CallerFlags | PrintFlags::MeasureOnly, Format.data(), nullptr,
                                      Slots.data());
  Require(Measured >= Real.Length, "measuring counts at least what a buffer receives");
  if (BufferSize != 0 && Real.Length + 1 < BufferSize) {
    Require(Measured == Real.Length, "output that fits is measured exactly");
  }
  const Output Untouched = Run(BufferSize, CallerFlags | PrintFlags::MeasureOnly, Format, Slots, CharacterSize);
  Require(UnwrittenFrom(Untouched.Bytes, 0), "measuring writes nothing");
  Require(Untouched.Length == (BufferSize == 1 ? 0 : Measured), "measuring ignores the buffer size beyond 1");

  if (Measured < 4096) {
    const Output Whole = Run(Measured + 1, CallerFlags, Format, Slots, CharacterSize);
    Require(Whole.Length == Measured, "a buffer of the measured size takes everything");
    Require(std::memcmp(Whole.Bytes.data(), Real.Bytes.data(), Real.Length * CharacterSize) == 0,
            "a short buffer receives a prefix");
  }
  Require(Recorded::Assertions().empty(), "valid input raises no report");
  return 0;
}
