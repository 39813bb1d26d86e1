// What the board runner prints after a boot.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "Base.h"
#include "Board.h"
#include "NativeServices.h"

struct BootOutcome {
  std::optional<EFI_STATUS> Status;  // none when the board stalled
  std::optional<std::string> Stall;
  size_t StackBytes = 0;
};

void PrintBoardReport(std::ostream& Out, const char* Variant, Sim::Board& Board,
                      const Pei::NativeServices& Foundation, const BootOutcome& Outcome, const std::string& PciLine,
                      bool Trace);

// A UART's transmitted bytes as a terminal shows them: one line per CR LF,
// other control characters escaped.
std::string TerminalView(const std::string& Bytes, const std::string& Indent);
