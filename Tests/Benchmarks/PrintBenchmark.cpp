// A fixed workload of firmware-style messages, formatted by the module's
// engine, by the engine it replaced, by the C library's snprintf on equivalent
// formats, and by an empty formatter that takes the same arguments (whose cost
// bench-print.sh subtracts). The count of executed instructions per call comes
// from bench-print.sh; this program only runs the work (and, with "check",
// shows that every side prints the same bytes).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../PrintLib/Reference/PrintLibBefore.h"
#include "Library/PrintLib.h"

namespace {
constexpr size_t MessageBufferSize = 256;  // the debug reporter's buffer

enum class Side { Engine, Before, Libc, Empty };
constexpr const char* SideNames[] = {"engine", "before", "libc", "empty"};

// The arguments are passed on unchanged, so the empty formatter's call costs
// what the others' calls cost before any formatting starts.
__attribute__((noipa)) int EmptyFormat(char*, size_t, const char*, ...) { return 0; }

const std::string Text200(200, 'm');
const std::string Text300 = std::string(150, 'n') + std::string(150, 'o');
const std::string Literal300 = [] {
  std::string Text;
  while (Text.size() < 300) {
    Text += "Memory test pass over the low range: ok. ";
  }
  return Text.substr(0, 300);
}();

// One call on one side: Ours is the engine's format, Libc the C library's
// format that prints the same bytes. The compiler must not see the formats:
// it would turn a snprintf of a constant text into a copy.
template <Side S, typename... Arguments>
int Call(char* Buffer, const char* Ours, const char* Libc, Arguments... Values) {
  __asm__("" : "+r"(Ours), "+r"(Libc));
  if constexpr (S == Side::Engine) {
    return static_cast<int>(AsciiFormat(Buffer, MessageBufferSize, Ours, Values...));
  } else if constexpr (S == Side::Before) {
    return static_cast<int>(PrintLibBefore::AsciiFormat(Buffer, MessageBufferSize, Ours, Values...));
  } else if constexpr (S == Side::Libc) {
    return std::snprintf(Buffer, MessageBufferSize, Libc, Values...);
  } else {
    return EmptyFormat(Buffer, MessageBufferSize, Ours, Values...);
  }
}

struct Plain {
  template <Side S>
  static int Run(char* Buffer) {
    return Call<S>(Buffer, "SerialInit done\n", "SerialInit done\r\n");
  }
};
struct Assertion {
  template <Side S>
  static int Run(char* Buffer) {
    return Call<S>(Buffer, "ASSERT %a(%d): %a\n", "ASSERT %s(%d): %s\r\n", "Library/BaseIoLibIntrinsic/IoLibMmio.cpp",
                   366, "Buffer != ((void *) 0)");
  }
};
struct PciRead {
  template <Side S>
  static int Run(char* Buffer) {
    return Call<S>(Buffer, "PciCfgRead32 %08x -> %08x\n", "PciCfgRead32 %08X -> %08X\r\n", 0x8000F8D0u, 0x12345678u);
  }
};
struct Window {
  template <Side S>
  static int Run(char* Buffer) {
    return Call<S>(Buffer, "Base=%x Limit=%x\n", "Base=%X Limit=%X\r\n", 0xFED00000u, 0xFED003FFu);
  }
};
struct Padded {
  template <Side S>
  static int Run(char* Buffer) {
    return Call<S>(Buffer, "%5d|%-5d|%05d", "%5d|%-5d|%05d", 42, 42, -42);
  }
};
struct Decimal64 {
  template <Side S>
  static int Run(char* Buffer) {
    return Call<S>(Buffer, "%ld %ld", "%lld %lld", INT64_MAX, -1234567890123456789LL);
  }
};
struct Hex64 {
  template <Side S>
  static int Run(char* Buffer) {
    return Call<S>(Buffer, "%016lx", "%016llX", 0x123456789ABCDEF0ULL);
  }
};
struct Guid {
  template <Side S>
  static int Run(char* Buffer) {
    return Call<S>(Buffer, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                   "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", 0x12345678u, 0x9ABCu, 0xDEF0u, 0xFEu, 0xDCu,
                   0xBAu, 0x98u, 0x76u, 0x54u, 0x32u, 0x10u);
  }
};
struct LongString {
  template <Side S>
  static int Run(char* Buffer) {
    return Call<S>(Buffer, "%a", "%s", Text200.c_str());
  }
};
struct CutString {
  template <Side S>
  static int Run(char* Buffer) {
    return Call<S>(Buffer, "%a", "%s", Text300.c_str());
  }
};
struct CutLiteral {
  template <Side S>
  static int Run(char* Buffer) {
    return Call<S>(Buffer, Literal300.c_str(), Literal300.c_str());
  }
};

using Formatter = int (*)(char* Buffer);
struct Message {
  const char* Name;
  Formatter On[4];  // in the order of Sides
};
template <typename Kind>
constexpr Message Entry(const char* Name) {
  return {Name,
          {Kind::template Run<Side::Engine>, Kind::template Run<Side::Before>, Kind::template Run<Side::Libc>,
           Kind::template Run<Side::Empty>}};
}
const Message Workload[] = {
    Entry<Plain>("plain line"),
    Entry<Assertion>("assertion line"),
    Entry<PciRead>("%08x register pair"),
    Entry<Window>("%x window"),
    Entry<Padded>("%5d|%-5d|%05d"),
    Entry<Decimal64>("%ld 64-bit pair"),
    Entry<Hex64>("%016lx"),
    Entry<Guid>("GUID, 11 fields"),
    Entry<LongString>("%a 200 chars"),
    Entry<CutString>("%a 300 cut at 255"),
    Entry<CutLiteral>("literal 300 cut at 255"),
};
constexpr int MessageCount = sizeof(Workload) / sizeof(Workload[0]);

int Check() {
  int Failures = 0;
  for (const Message& Item : Workload) {
    char Texts[3][MessageBufferSize];
    int Lengths[3];
    for (int Index = 0; Index < 3; ++Index) {
      Lengths[Index] = Item.On[Index](Texts[Index]);
    }
    for (int Index = 1; Index < 3; ++Index) {
      if (std::strcmp(Texts[0], Texts[Index]) != 0 || (Index == 1 && Lengths[0] != Lengths[1])) {
        std::printf("differs: %s\n  engine: %s\n  %s: %s\n", Item.Name, Texts[0], SideNames[Index], Texts[Index]);
        ++Failures;
      }
    }
  }
  return Failures == 0 ? 0 : 1;
}
}  // namespace

// PrintBenchmark check | names | {engine|before|libc|empty} <message index or -1 for all> <iterations>
int main(int Count, char** Arguments) {
  if (Count == 1 || (Count == 2 && std::strcmp(Arguments[1], "check") == 0)) {
    const int Result = Check();
    if (Count == 1 && Result == 0) {
      std::printf("every side prints the same workload; Tests/Benchmarks/bench-print.sh counts instructions\n");
    }
    return Result;
  }
  if (Count == 2 && std::strcmp(Arguments[1], "names") == 0) {
    for (const Message& Item : Workload) {
      std::printf("%s\n", Item.Name);
    }
    return 0;
  }
  int Chosen = -1;
  for (int Index = 0; Count == 4 && Index < 4; ++Index) {
    if (std::strcmp(Arguments[1], SideNames[Index]) == 0) {
      Chosen = Index;
    }
  }
  if (Chosen < 0) {
    std::fprintf(stderr, "usage: PrintBenchmark check | names | {engine|before|libc|empty} <message|-1> <iterations>\n");
    return 2;
  }
  const int Only = std::atoi(Arguments[2]);
  const int Iterations = std::atoi(Arguments[3]);
  static char Buffer[MessageBufferSize];
  int Sum = 0;
  for (int Iteration = 0; Iteration < Iterations; ++Iteration) {
    for (int Index = 0; Index < MessageCount; ++Index) {
      if (Only < 0 || Only == Index) {
        Sum += Workload[Index].On[Chosen](Buffer);
      }
    }
  }
  return Sum == -1 ? 1 : 0;
}
