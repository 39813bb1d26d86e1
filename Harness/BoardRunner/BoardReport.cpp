// The board runner's report: a few lines on what the module left behind, then
// both UARTs' transcripts as a terminal would show them.
#include "BoardReport.h"

#include <cstdio>

#include "BuildSettings.h"
#include "Library/PrintLib.h"
#include "Library/SerialPortLib.h"
#include "Ppi/VersionString.h"

namespace {
// The module's own formatter names statuses and GUIDs as its messages do.
std::string Formatted(const char* Format, const void* Argument) {
  char Text[64];
  AsciiFormat(Text, sizeof Text, Format, Argument);
  return Text;
}

std::string StatusText(EFI_STATUS Status) {
  char Text[64];
  AsciiFormat(Text, sizeof Text, "%r (0x%08X)", Status, Status);
  return Text;
}

std::string Hex(uint32_t Value, int Digits) {
  char Text[16];
  std::snprintf(Text, sizeof Text, "0x%0*X", Digits, Value);
  return Text;
}

std::string FrameText(uint8_t LineControl) {
  static const char Parities[] = {'N', 'O', 'N', 'E', 'N', 'M', 'N', 'S'};
  const unsigned DataBits = 5 + (LineControl & 0x03);
  const char Parity = (LineControl & 0x08) != 0 ? Parities[(LineControl >> 3) & 0x07] : 'N';
  const char* StopBits = (LineControl & 0x04) == 0 ? "1" : (DataBits == 5 ? "1.5" : "2");
  return std::to_string(DataBits) + Parity + StopBits;
}

std::string UartLine(Sim::Uart16550Model& Uart) {
  if (Uart.Absent) {
    return "not fitted";
  }
  std::string Line;
  const uint16_t Divisor = Uart.Divisor();
  Line += Divisor != 0 ? std::to_string(115200 / Divisor) + " baud" : std::string("divisor 0");
  Line += " " + FrameText(Uart.Lcr());
  Line += Uart.FifosEnabled() ? (Uart.LargeFifo() ? ", FIFOs on (64 bytes)" : ", FIFOs on (16 bytes)") : ", FIFOs off";
  Line += ", MCR " + Hex(Uart.Mcr(), 2);
  Line += ", " + std::to_string(Uart.Line().size()) + " bytes sent";
  if (Uart.StuckTransmitter) {
    Line += " (transmitter stuck)";
  }
  return Line;
}

// The waits the driver gave up on a UART, told from the runs of status reads
// that reached its bound (a wait met on its very last poll reads the same).
// A run may span waits of several calls when nothing else touched the UART
// between them.
std::string TimeoutText(const Sim::Uart16550Model& Uart) {
  constexpr unsigned LineStatusRegister = 5;
  uint64_t LineStatusWaits = 0;
  uint64_t ModemStatusWaits = 0;
  for (const Sim::Uart16550Model::PollRun& Run : Uart.LongPolls()) {
    (Run.Register == LineStatusRegister ? LineStatusWaits : ModemStatusWaits) += Run.Reads / SerialPollLimit;
  }
  const auto Waits = [](uint64_t Count, const char* Register) {
    return std::to_string(Count) + " " + Register + (Count == 1 ? " wait" : " waits");
  };
  std::string Text;
  if (LineStatusWaits != 0) {
    Text = Waits(LineStatusWaits, "LSR");
  }
  if (ModemStatusWaits != 0) {
    Text += (Text.empty() ? "" : " and ") + Waits(ModemStatusWaits, "MSR");
  }
  return Text.empty() ? Text : "the driver gave up " + Text + " (" + std::to_string(SerialPollLimit) + " polls each)";
}

std::string SuperIoLine(const Sim::SuperIo& Chip) {
  if (!Chip.Present()) {
    return "absent";
  }
  std::string Line;
  for (uint8_t Device : {Sim::SuperIo::FirstUartDevice, Sim::SuperIo::SecondUartDevice}) {
    Line += "LD" + std::to_string(Device) + (Chip.Active(Device) ? " active" : " inactive") + " at " +
            Hex(Chip.Base(Device), 3) + " IRQ " + std::to_string(Chip.Interrupt(Device)) + "   ";
  }
  return Line + "(LD" + std::to_string(Chip.SelectedDevice()) + " selected)";
}

std::string PpiLine(const Pei::NativeServices& Foundation) {
  EFI_PEI_PPI_DESCRIPTOR* Descriptor = nullptr;
  VersionStringPpi* Record = nullptr;
  if (Foundation.LocatePpi(VersionStringPpiGuid, 0, &Descriptor, reinterpret_cast<VOID**>(&Record)) != EFI_SUCCESS) {
    return "not installed";
  }
  return Formatted("%g", Descriptor->Guid) + "  \"" + Record->Signature + "\"  \"" + Record->VersionString + "\"";
}

std::string DebuggerLine(Sim::Board& Board) {
  std::string Line = std::to_string(Board.Processor().Breakpoints()) + " breakpoints";
  const auto Codes = Board.Diagnostics().Codes();
  Line += ", " + std::to_string(Board.Processor().SpinsReleased()) + " halts released";
  Line += ", port 0xE8:";
  if (Codes.empty()) {
    Line += " -";
  }
  for (uint32_t Code : Codes) {
    Line += " " + Hex(Code, 8);
  }
  return Line;
}
}  // namespace

std::string TerminalView(const std::string& Bytes, const std::string& Indent) {
  std::string View = Indent;
  for (size_t Index = 0; Index < Bytes.size(); ++Index) {
    const auto Byte = static_cast<unsigned char>(Bytes[Index]);
    if (Byte == '\r' && Index + 1 < Bytes.size() && Bytes[Index + 1] == '\n') {
      View += "\n";
      if (Index + 2 < Bytes.size()) {
        View += Indent;
      }
      ++Index;
    } else if (Byte < 0x20 || Byte >= 0x7F) {
      View += Byte == '\r' ? std::string("\\r") : Byte == '\n' ? std::string("\\n") : "\\x" + Hex(Byte, 2).substr(2);
    } else {
      View += static_cast<char>(Byte);
    }
  }
  if (View.empty() || View.back() != '\n') {
    View += "\n";
  }
  return View;
}

void PrintBoardReport(std::ostream& Out, const char* Variant, Sim::Board& Board,
                      const Pei::NativeServices& Foundation, const BootOutcome& Outcome, const std::string& PciLine,
                      bool Trace) {
  Out << "QelVersionPei on the simulated board, build '" << Variant << "' (DebugControlMask "
      << Hex(Settings::DebugControlMask, 2) << ")\n";
  if (Outcome.Stall) {
    Out << "  ModuleEntry    did not return: " << *Outcome.Stall << "\n";
  } else {
    Out << "  ModuleEntry    returned " << StatusText(*Outcome.Status) << "\n";
  }
  Out << "  PPI            " << PpiLine(Foundation) << "\n";
  Out << "  Pool           " << Foundation.PoolUsed() << " bytes in " << Foundation.AllocationCalls() << " allocations\n";
  if (const unsigned Failed = Foundation.FailedAllocation(); Failed != 0) {
    Out << "  Foundation     allocation " << Failed << " answered " << StatusText(Foundation.FailedAllocationStatus())
        << " without a block\n";
  }
  Out << "  Super I/O      " << SuperIoLine(Board.SuperIo()) << "\n";
  Out << "  COM1 " << Hex(Sim::Board::Com1Base, 3) << "     " << UartLine(Board.Com1()) << "\n";
  Out << "  COM2 " << Hex(Sim::Board::Com2Base, 3) << "     " << UartLine(Board.Com2()) << "\n";
  const char* TimeoutLabel = "  Timed out      ";
  for (const auto& [Name, Uart] : {std::pair{"COM1", &Board.Com1()}, std::pair{"COM2", &Board.Com2()}}) {
    if (const std::string Text = TimeoutText(*Uart); !Text.empty()) {
      Out << TimeoutLabel << Name << ": " << Text << "\n";
      TimeoutLabel = "                 ";
    }
  }
  if (!PciLine.empty()) {
    Out << "  PCI            " << PciLine << "\n";
  }
  Out << "  Debugger       " << DebuggerLine(Board) << "\n";
  Out << "  Port accesses  " << Board.Processor().PortAccesses() << "\n";
  Out << "  Stack          " << Outcome.StackBytes << " bytes at the deepest (painted stack)\n";
  if (Trace) {
    Out << "Port accesses in order:\n";
    for (const Sim::BusEvent& Event : Board.Processor().Trace()) {
      Out << "  " << Sim::Describe(Event) << "\n";
    }
  }
  const std::string Com1 = Board.Com1().Transmitted();
  const std::string Com2 = Board.Com2().Transmitted();
  Out << "COM1 (" << Com1.size() << " bytes):\n" << (Com1.empty() ? std::string("  (nothing)\n") : TerminalView(Com1, "  | "));
  if (Com2 == Com1) {
    Out << "COM2 (" << Com2.size() << " bytes): the same bytes as COM1\n";
  } else {
    Out << "COM2 (" << Com2.size() << " bytes):\n" << (Com2.empty() ? std::string("  (nothing)\n") : TerminalView(Com2, "  | "));
  }
}
