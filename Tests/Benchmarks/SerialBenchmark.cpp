// Figures of the serial console on the simulated board: port accesses made by
// SerialInit, and the line utilisation of a long SerialWrite on the timed model.
#include <cstdio>
#include <string>

#include "BuildSettings.h"
#include "Library/SerialPortLib.h"
#include "Board.h"

namespace {
unsigned long long InitAccesses(Sim::Board& Board) {
  const uint64_t Before = Board.Processor().PortAccesses();
  if (SerialInit() != EFI_SUCCESS) {
    std::printf("SerialInit failed\n");
  }
  return Board.Processor().PortAccesses() - Before;
}

void MeasureInit() {
  {
    Sim::Board Board;
    std::printf("SerialInit port accesses, fresh board:            %llu\n", InitAccesses(Board));
  }
  {
    Sim::Board Board;
    Board.ActivateCom1Device().ActivateCom2Device().PreconfigureUarts(1, Settings::UartLineControl,
                                                                        Settings::UartFifoControl & 0x21);
    std::printf("SerialInit port accesses, already-configured board: %llu\n", InitAccesses(Board));
  }
}

void MeasureLine(size_t Length) {
  Sim::Board Board;
  Board.StopTracing();
  if (SerialInit() != EFI_SUCCESS) {
    std::printf("SerialInit failed\n");
    return;
  }
  std::string Text;
  for (size_t At = 0; At < Length; ++At) {
    Text += static_cast<char>(' ' + At % 95);
  }
  Sim::Processor& Processor = Board.Processor();
  const uint64_t Start = Processor.Now();
  const uint64_t AccessesBefore = Processor.PortAccesses();
  const UINTN Sent = SerialWrite(reinterpret_cast<const UINT8*>(Text.data()), static_cast<UINTN>(Text.size()));
  const uint64_t Returned = Processor.Now();
  const uint64_t Accesses = Processor.PortAccesses() - AccessesBefore;
  Board.Settle();

  const auto& Line = Board.Com1().Line();
  const uint64_t LineTime = Board.Com1().LineBusyNanoseconds();
  const uint64_t Elapsed = Line.back().End - Start;
  uint64_t Gaps = 0;
  unsigned GapCount = 0;
  for (size_t At = 1; At < Line.size(); ++At) {
    if (Line[At].Start > Line[At - 1].End) {
      Gaps += Line[At].Start - Line[At - 1].End;
      ++GapCount;
    }
  }
  const uint64_t Lead = Line.front().Start - Start;
  std::printf("SerialWrite of %zu bytes at divisor %u (LCR 0x%02X, FCR 0x%02X), %llu ns per port access:\n", Length,
              Line.front().Divisor, Line.front().LineControl, Settings::UartFifoControl & 0x21,
              static_cast<unsigned long long>(Processor.AccessNanoseconds));
  std::printf("  sent %u bytes; %zu frames on COM1, %zu on COM2\n", Sent, Line.size(), Board.Com2().Line().size());
  std::printf("  line time %llu ns / elapsed %llu ns (write start to last stop bit) = utilisation %.4f\n",
              static_cast<unsigned long long>(LineTime), static_cast<unsigned long long>(Elapsed),
              static_cast<double>(LineTime) / static_cast<double>(Elapsed));
  std::printf("  the rest: %llu ns before the first start bit, %llu ns of idle line in %u gaps (%.0f ns each)\n",
              static_cast<unsigned long long>(Lead), static_cast<unsigned long long>(Gaps), GapCount,
              GapCount != 0 ? static_cast<double>(Gaps) / GapCount : 0.0);
  std::printf("  port accesses during the write: %llu (%.1f per byte); SerialWrite returned %llu ns before the last "
              "stop bit\n",
              static_cast<unsigned long long>(Accesses), static_cast<double>(Accesses) / static_cast<double>(Length),
              static_cast<unsigned long long>(Line.back().End - Returned));
}
}  // namespace

int main() {
  MeasureInit();
  MeasureLine(4096);
  return 0;
}
