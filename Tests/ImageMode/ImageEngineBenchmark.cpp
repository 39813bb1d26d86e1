// The engine benchmark's workload run by the image's own format engine:
// Tests/Benchmarks/PrintBenchmark.cpp is compiled in as it is, and its calls
// of the engine's entry points land here and are made in the image, through
// the image's map. The image reads the benchmark's texts and argument slots
// where they are, since this process's pages are visible to it. Prints, per
// workload, the instructions the image executed in one call.
//
//   ImageEngineBenchmark IMAGE [MAP]
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Board.h"
#include "ImageMachine.h"
#include "Library/PrintLib.h"

int PrintBenchmarkMain(int Count, char** Arguments);

namespace {
// Slots copied from the caller's argument list: more than any workload passes.
constexpr unsigned ForwardedSlots = 32;

ImageMode::ImageMachine* Image = nullptr;
uint64_t Instructions = 0;
unsigned Calls = 0;

uint32_t Word(const void* Pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Pointer)); }

uint32_t CallImage(const char* Routine, std::vector<uint32_t> Words, va_list Slots) {
  // On i386 a va_list points at the caller's 4-byte argument slots.
  const auto* Next = reinterpret_cast<const uint32_t*>(Slots);
  for (unsigned Index = 0; Index < ForwardedSlots; ++Index) {
    Words.push_back(Next[Index]);
  }
  const uint32_t Result = Image->Call(Image->Routine(Routine), Words);
  Instructions += Image->Instructions();
  ++Calls;
  return Result;
}

std::string Captured(int Count, char** Arguments, int& Status) {
  std::fflush(stdout);
  // An anonymous temporary file: nothing to name or remove.
  FILE* Capture = std::tmpfile();
  const int Saved = dup(1);
  dup2(fileno(Capture), 1);
  Status = PrintBenchmarkMain(Count, Arguments);
  std::fflush(stdout);
  dup2(Saved, 1);
  close(Saved);
  std::string Text;
  std::rewind(Capture);
  char Line[256];
  while (std::fgets(Line, sizeof Line, Capture) != nullptr) {
    Text += Line;
  }
  std::fclose(Capture);
  return Text;
}
}  // namespace

// The engine's entry points that the workload may call.
UINTN AsciiFormat(CHAR8* Buffer, UINTN BufferSize, const CHAR8* Format, ...) {
  va_list Slots;
  va_start(Slots, Format);
  const uint32_t Result = CallImage("AsciiFormat", {Word(Buffer), BufferSize, Word(Format)}, Slots);
  va_end(Slots);
  return Result;
}

UINTN AsciiFormatList(CHAR8* Buffer, UINTN BufferSize, const CHAR8* Format, va_list Arguments) {
  const uint32_t Result =
      Image->Call(Image->Routine("AsciiFormatList"), {Word(Buffer), BufferSize, Word(Format), Word(Arguments)});
  Instructions += Image->Instructions();
  ++Calls;
  return Result;
}

int main(int Count, char** Arguments) {
  if (Count < 2 || Count > 3) {
    std::fprintf(stderr, "usage: ImageEngineBenchmark IMAGE [MAP]\n");
    return 2;
  }
  const std::string Path = Arguments[1];
  const std::string Map = Count == 3 ? Arguments[2] : Path.substr(0, Path.rfind('.')) + ".map";
  Sim::Board Board;
  try {
    ImageMode::ImageMachine Machine(Board.Processor(), ImageMode::ReadImageFile(Path));
    Machine.UseMap(ImageMode::ImageMap::Read(Map));
    Machine.HostMemoryVisible = true;
    Image = &Machine;

    char Program[] = "PrintBenchmark";
    char Check[] = "check";
    char Names[] = "names";
    char* CheckArguments[] = {Program, Check, nullptr};
    char* NameArguments[] = {Program, Names, nullptr};
    int Status = 0;
    const std::string Differences = Captured(2, CheckArguments, Status);
    std::printf("image's engine against snprintf on the workload: %s\n",
                Status == 0 ? "the same text" : "DIFFERENT TEXT");
    std::fputs(Differences.c_str(), stdout);
    const std::string Listed = Captured(2, NameArguments, Status);
    if (Listed.empty()) {
      std::printf("  the benchmark lists no workloads (PrintBenchmark names printed nothing)\n");
    }

    size_t Start = 0;
    int Index = 0;
    while (Start < Listed.size()) {
      const size_t End = Listed.find('\n', Start);
      const std::string Name = Listed.substr(Start, End - Start);
      Start = End == std::string::npos ? Listed.size() : End + 1;
      std::string Which = std::to_string(Index++);
      char Engine[] = "engine";
      char Once[] = "1";
      char* RunArguments[] = {Program, Engine, Which.data(), Once, nullptr};
      Instructions = 0;
      Calls = 0;
      PrintBenchmarkMain(4, RunArguments);
      if (Calls == 0) {
        std::printf("  %-24s no call of an engine entry point that runs in the image\n", Name.c_str());
      } else {
        std::printf("  %-24s %8llu instructions per call\n", Name.c_str(),
                    static_cast<unsigned long long>(Instructions / Calls));
      }
    }
    Image = nullptr;
  } catch (const std::exception& Failure) {
    std::fprintf(stderr, "ImageEngineBenchmark: %s: %s\n", Path.c_str(), Failure.what());
    return 1;
  }
  return 0;
}
