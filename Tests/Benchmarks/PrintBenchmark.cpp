// A fixed workload of firmware-style messages, formatted by the module's
// engine or by the C library's snprintf on equivalent formats. The count of
// executed instructions per call comes from bench-print.sh; this program only
// runs the work (and, with "check", shows that both sides print the same).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Library/PrintLib.h"

namespace {
constexpr size_t MessageBufferSize = 256;  // the debug reporter's buffer

const std::string Text200(200, 'm');
const std::string Text300 = std::string(150, 'n') + std::string(150, 'o');

// One message of the workload: the engine's call and the C library's call
// that prints the same bytes.
using Formatter = int (*)(char* Buffer);

int EngineAssert(char* Buffer) {
  return static_cast<int>(AsciiFormat(Buffer, MessageBufferSize, "ASSERT %a(%d): %a\n",
                                      "Library/BasePrintLib/PrintLibInternal.cpp", 366, "Buffer != ((void *) 0)"));
}
int LibcAssert(char* Buffer) {
  return std::snprintf(Buffer, MessageBufferSize, "ASSERT %s(%d): %s\r\n", "Library/BasePrintLib/PrintLibInternal.cpp",
                       366, "Buffer != ((void *) 0)");
}
int EngineStatus(char* Buffer) {
  return static_cast<int>(AsciiFormat(Buffer, MessageBufferSize, "\nASSERT_EFI_ERROR (Status = %r)\n", EFI_DEVICE_ERROR));
}
int LibcStatus(char* Buffer) {
  // The C library has no status names; the caller's lookup is part of the work.
  const EFI_STATUS Status = EFI_DEVICE_ERROR;
  return std::snprintf(Buffer, MessageBufferSize, "\r\nASSERT_EFI_ERROR (Status = %s)\r\n",
                       StatusTextTable[StatusWarningCount - 1 + (Status & ~MAX_BIT)]);
}
int EngineRegisters(char* Buffer) {
  return static_cast<int>(AsciiFormat(Buffer, MessageBufferSize, "EAX=%08x EBX=%08x ECX=%8X EDX=%-8x|%4x\n",
                                      0xDEADBEEF, 0x12, 0xCAFE, 0x80000007, 0x3F8));
}
int LibcRegisters(char* Buffer) {
  return std::snprintf(Buffer, MessageBufferSize, "EAX=%08X EBX=%08X ECX=%08X EDX=%-8X|%4X\r\n", 0xDEADBEEF, 0x12,
                       0xCAFE, 0x80000007, 0x3F8);
}
int EngineDecimal64(char* Buffer) {
  return static_cast<int>(AsciiFormat(Buffer, MessageBufferSize, "Memory: %ld bytes\n", 0x123456789ABCDEFLL));
}
int LibcDecimal64(char* Buffer) {
  return std::snprintf(Buffer, MessageBufferSize, "Memory: %lld bytes\r\n", 0x123456789ABCDEFLL);
}
int EngineLongString(char* Buffer) {
  return static_cast<int>(AsciiFormat(Buffer, MessageBufferSize, "%a", Text200.c_str()));
}
int LibcLongString(char* Buffer) { return std::snprintf(Buffer, MessageBufferSize, "%s", Text200.c_str()); }
int EngineTruncated(char* Buffer) {
  return static_cast<int>(AsciiFormat(Buffer, MessageBufferSize, "%a%a", Text300.c_str(), Text300.c_str() + 150));
}
int LibcTruncated(char* Buffer) {
  return std::snprintf(Buffer, MessageBufferSize, "%s%s", Text300.c_str(), Text300.c_str() + 150);
}

struct Message {
  const char* Name;
  Formatter Engine;
  Formatter Libc;
};
constexpr Message Workload[] = {
    {"assertion line", EngineAssert, LibcAssert},
    {"status line %r", EngineStatus, LibcStatus},
    {"register dump", EngineRegisters, LibcRegisters},
    {"64-bit decimal", EngineDecimal64, LibcDecimal64},
    {"200-char %a", EngineLongString, LibcLongString},
    {"300 chars cut at 256", EngineTruncated, LibcTruncated},
};
constexpr int MessageCount = sizeof(Workload) / sizeof(Workload[0]);

int Check() {
  int Failures = 0;
  for (const Message& Item : Workload) {
    char Engine[MessageBufferSize];
    char Libc[MessageBufferSize];
    Item.Engine(Engine);
    Item.Libc(Libc);
    if (std::strcmp(Engine, Libc) != 0) {
      std::printf("differs: %s\n  engine: %s\n  libc:   %s\n", Item.Name, Engine, Libc);
      ++Failures;
    }
  }
  return Failures == 0 ? 0 : 1;
}
}  // namespace

// PrintBenchmark check | names | {engine|libc} <message index or -1 for all> <iterations>
int main(int Count, char** Arguments) {
  if (Count == 1 || (Count == 2 && std::strcmp(Arguments[1], "check") == 0)) {
    const int Result = Check();
    if (Count == 1 && Result == 0) {
      std::printf("engine and snprintf print the same workload; Tests/Benchmarks/bench-print.sh counts instructions\n");
    }
    return Result;
  }
  if (Count == 2 && std::strcmp(Arguments[1], "names") == 0) {
    for (const Message& Item : Workload) {
      std::printf("%s\n", Item.Name);
    }
    return 0;
  }
  if (Count != 4) {
    std::fprintf(stderr, "usage: PrintBenchmark check | names | {engine|libc} <message|-1> <iterations>\n");
    return 2;
  }
  const bool UseEngine = std::strcmp(Arguments[1], "engine") == 0;
  const int Only = std::atoi(Arguments[2]);
  const int Iterations = std::atoi(Arguments[3]);
  static char Buffer[MessageBufferSize];
  int Sum = 0;
  for (int Iteration = 0; Iteration < Iterations; ++Iteration) {
    for (int Index = 0; Index < MessageCount; ++Index) {
      if (Only < 0 || Only == Index) {
        Sum += (UseEngine ? Workload[Index].Engine : Workload[Index].Libc)(Buffer);
      }
    }
  }
  return Sum == -1 ? 1 : 0;
}
