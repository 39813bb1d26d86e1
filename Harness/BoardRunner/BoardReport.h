// What the board runner prints after a boot.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Base.h"
#include "Board.h"
#include "PeiFoundation.h"

struct BootOutcome {
  std::optional<EFI_STATUS> Status;  // none when the board stalled or the image faulted
  std::optional<std::string> Stall;
  std::optional<std::string> Fault;  // image mode: why the run was stopped
  size_t StackBytes = 0;
  std::optional<std::string> ImageLine;  // image mode: the image and its instruction count
};

// The PEI Foundation as the report reads it: its records, and the module's
// memory they point into (this process, or the emulated image's).
struct FoundationView {
  const Pei::Foundation& Foundation;
  std::function<bool(uint32_t, void*, uint32_t)> Read;
};

// How the board is wired for this build, and what the switches did not do.
struct ReportContext {
  const char* Variant;
  std::string PciLine;              // empty for a legacy UART
  std::optional<uint32_t> PciUart;  // where the PCI UART decodes, which COM1's model then is
  bool PciUartInMemory = false;
  std::vector<std::string> Notes;
  bool Trace = false;
  std::string Waveforms;  // the VCD written, empty without --vcd
};

void PrintBoardReport(std::ostream& Out, const ReportContext& Context, Sim::Board& Board, const FoundationView& View,
                      const BootOutcome& Outcome);

// A UART's transmitted bytes as a terminal shows them: one line per CR LF,
// other control characters escaped.
std::string TerminalView(const std::string& Bytes, const std::string& Indent);

// The trace as lines, a run of a repeated access (or of a repeated group of
// up to four accesses) written once with its count.
std::vector<std::string> TraceLines(const std::vector<Sim::BusEvent>& Trace);

// "1 breakpoint", "2 breakpoints".
std::string Counted(uint64_t Count, const std::string& Singular, const std::string& Plural);
