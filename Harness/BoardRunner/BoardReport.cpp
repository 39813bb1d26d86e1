// The board runner's report: a few lines on what the module left behind, then
// both UARTs' transcripts as a terminal would show them.
#include "BoardReport.h"

#include <algorithm>

#include "BuildSettings.h"
#include "HexField.h"
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
  if (Uart.FifosReportedOff) {
    Line += " but IIR reports them off";
  }
  Line += ", MCR " + HexField(Uart.Mcr(), 2);
  Line += ", " + Counted(Uart.Line().size(), "byte", "bytes") + " sent";
  if (Uart.StuckTransmitter) {
    Line += " (transmitter stuck)";
  } else if (Uart.FifosReportedOff && Uart.Line().empty()) {
    Line += " (the driver sends only while IIR shows the FIFOs on)";
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
  const bool One = LineStatusWaits + ModemStatusWaits == 1;
  return Text.empty() ? Text
                      : "the driver gave up " + Text + " (" + std::to_string(SerialPollLimit) +
                            (One ? " polls)" : " polls each)");
}

// What the module read from CMOS: the bytes as the board holds them.
std::string CmosLine(Sim::Board& Board) {
  uint32_t Mask = 0;
  for (uint8_t Index = 0; Index < 4; ++Index) {
    Mask |= static_cast<uint32_t>(Board.Cmos().Get(static_cast<uint8_t>(Sim::Board::CmosLevelMask + Index))) << (8 * Index);
  }
  const uint8_t Baud = Board.Cmos().Get(Sim::Board::CmosBaudSelection);
  static const char* const Rates[] = {"115200", "57600", "19200", "9600"};
  std::string Line = "level mask " + HexField(Mask, 8);
  Line += (Mask & 0x80000000u) != 0 ? " (error messages on)" : " (error messages off)";
  return Line + ", baud byte " + HexField(Baud, 2) + " (" + Rates[(Baud >> 1) & 3] + " baud)";
}

std::string SuperIoLine(const Sim::SuperIo& Chip) {
  if (!Chip.Present()) {
    return "absent";
  }
  std::string Line;
  for (uint8_t Device : {Sim::SuperIo::FirstUartDevice, Sim::SuperIo::SecondUartDevice}) {
    Line += "LD" + std::to_string(Device) + (Chip.Active(Device) ? " active" : " inactive") + " at " +
            HexField(Chip.Base(Device), 3) + " IRQ " + std::to_string(Chip.Interrupt(Device)) + "   ";
  }
  return Line + "(LD" + std::to_string(Chip.SelectedDevice()) + " selected)";
}

std::string PpiLine(const FoundationView& View) {
  Pei::Address DescriptorAt = 0;
  Pei::Address RecordAt = 0;
  if (View.Foundation.LocatePpi(VersionStringPpiGuid, 0, &DescriptorAt, &RecordAt) != EFI_SUCCESS) {
    return "not installed";
  }
  uint32_t Descriptor[3] = {};
  uint32_t Record[2] = {};
  EFI_GUID Guid{};
  if (!View.Read(DescriptorAt, Descriptor, sizeof Descriptor) || !View.Read(Descriptor[1], &Guid, sizeof Guid) ||
      !View.Read(RecordAt, Record, sizeof Record)) {
    return "installed, but its descriptor or record cannot be read";
  }
  auto Text = [&](uint32_t At) {
    std::string Read;
    char Each = 0;
    while (Read.size() < 256 && View.Read(At + static_cast<uint32_t>(Read.size()), &Each, 1) && Each != 0) {
      Read += Each;
    }
    return Read;
  };
  return Formatted("%g", &Guid) + "  \"" + Text(Record[0]) + "\"  \"" + Text(Record[1]) + "\"";
}

std::string DiagnosticCode(uint32_t Code) {
  std::string Text = HexField(Code, 8);
  std::string Characters;
  for (int Shift = 24; Shift >= 0; Shift -= 8) {
    const char Each = static_cast<char>(Code >> Shift);
    if (Each < 0x20 || Each > 0x7E) {
      return Text;
    }
    Characters += Each;
  }
  return Text + " (\"" + Characters + "\")";
}

std::string DebuggerLine(Sim::Board& Board) {
  std::string Line = Counted(Board.Processor().Breakpoints(), "breakpoint", "breakpoints");
  const auto Codes = Board.Diagnostics().Codes();
  Line += ", " + Counted(Board.Processor().SpinsReleased(), "halt", "halts") + " released";
  Line += ", port 0xE8:";
  if (Codes.empty()) {
    Line += " -";
  }
  for (uint32_t Code : Codes) {
    Line += " " + DiagnosticCode(Code);
  }
  return Line;
}
}  // namespace

std::string Counted(uint64_t Count, const std::string& Singular, const std::string& Plural) {
  return std::to_string(Count) + " " + (Count == 1 ? Singular : Plural);
}

std::vector<std::string> TraceLines(const std::vector<Sim::BusEvent>& Trace) {
  constexpr size_t LongestGroup = 4;
  constexpr size_t FewestRepeats = 3;
  std::vector<std::string> Lines;
  size_t At = 0;
  while (At < Trace.size()) {
    size_t BestGroup = 0;
    size_t BestRepeats = 0;
    for (size_t Group = 1; Group <= LongestGroup && At + 2 * Group <= Trace.size(); ++Group) {
      size_t Repeats = 1;
      while (At + (Repeats + 1) * Group <= Trace.size() &&
             std::equal(Trace.begin() + At, Trace.begin() + At + Group, Trace.begin() + At + Repeats * Group)) {
        ++Repeats;
      }
      if (Repeats >= FewestRepeats && Repeats * Group > BestRepeats * BestGroup) {
        BestGroup = Group;
        BestRepeats = Repeats;
      }
    }
    if (BestGroup == 0) {
      Lines.push_back(Sim::Describe(Trace[At]));
      ++At;
      continue;
    }
    for (size_t Index = 0; Index < BestGroup; ++Index) {
      std::string Line = Sim::Describe(Trace[At + Index]);
      if (Index == BestGroup - 1) {
        Line += BestGroup == 1 ? "   (x " + std::to_string(BestRepeats) + ")"
                               : "   (these " + std::to_string(BestGroup) + " lines x " + std::to_string(BestRepeats) + ")";
      }
      Lines.push_back(Line);
    }
    At += BestGroup * BestRepeats;
  }
  return Lines;
}

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
      View += Byte == '\r' ? std::string("\\r") : Byte == '\n' ? std::string("\\n") : "\\x" + HexDigits(Byte, 2);
    } else {
      View += static_cast<char>(Byte);
    }
  }
  if (View.empty() || View.back() != '\n') {
    View += "\n";
  }
  return View;
}

void PrintBoardReport(std::ostream& Out, const ReportContext& Context, Sim::Board& Board, const FoundationView& View,
                      const BootOutcome& Outcome) {
  Out << "QelVersionPei on the simulated board, build '" << Context.Variant << "' (DebugControlMask "
      << HexField(Settings::DebugControlMask, 2) << ")" << (Outcome.ImageLine ? ", image mode" : ", host build") << "\n";
  if (Outcome.ImageLine) {
    Out << "  Image          " << *Outcome.ImageLine << "\n";
  }
  if (Outcome.Fault) {
    Out << "  ModuleEntry    stopped: " << *Outcome.Fault << "\n";
  } else if (Outcome.Stall) {
    Out << "  ModuleEntry    did not return: " << *Outcome.Stall << "\n";
  } else {
    Out << "  ModuleEntry    returned " << StatusText(*Outcome.Status) << "\n";
  }
  Out << "  PPI            " << PpiLine(View) << "\n";
  Out << "  Pool           " << Counted(View.Foundation.PoolUsed(), "byte", "bytes") << " in "
      << Counted(View.Foundation.AllocationCalls(), "allocation", "allocations") << "\n";
  if (const unsigned Failed = View.Foundation.FailedAllocation(); Failed != 0) {
    Out << "  Foundation     allocation " << Failed << " answered " << StatusText(View.Foundation.FailedAllocationStatus())
        << " without a block\n";
  }
  Out << "  CMOS           " << CmosLine(Board) << "\n";
  Out << "  Super I/O      " << SuperIoLine(Board.SuperIo()) << "\n";
  if (Context.PciUart) {
    // COM1's model sits behind the PCI function; this build drives no other UART.
    const std::string At = Context.PciUartInMemory ? HexField(*Context.PciUart, 8) : HexField(*Context.PciUart, 4);
    Out << "  PCI UART       " << At << " " << UartLine(Board.Com1()) << "\n";
  } else {
    Out << "  COM1 " << HexField(Sim::Board::Com1Base, 3) << "     " << UartLine(Board.Com1()) << "\n";
    Out << "  COM2 " << HexField(Sim::Board::Com2Base, 3) << "     " << UartLine(Board.Com2()) << "\n";
  }
  const char* TimeoutLabel = "  Timed out      ";
  for (const auto& [Name, Uart] : {std::pair{"COM1", &Board.Com1()}, std::pair{"COM2", &Board.Com2()}}) {
    if (const std::string Text = TimeoutText(*Uart); !Text.empty()) {
      Out << TimeoutLabel << Name << ": " << Text << "\n";
      TimeoutLabel = "                 ";
    }
  }
  if (!Context.PciLine.empty()) {
    Out << "  PCI            " << Context.PciLine << "\n";
  }
  Out << "  Debugger       " << DebuggerLine(Board) << "\n";
  Out << "  Port accesses  " << Board.Processor().PortAccesses() << "\n";
  // On the host the recorder runs on the module's stack, inside the seam.
  const bool RecorderCounted = !Context.Waveforms.empty() && !Outcome.ImageLine;
  Out << "  Stack          " << Counted(Outcome.StackBytes, "byte", "bytes") << " at the deepest (painted stack"
      << (RecorderCounted ? ", the waveform recorder's calls included)\n" : ")\n");
  if (!Context.Waveforms.empty()) {
    Out << "  Waveforms      " << Context.Waveforms << "\n";
  }
  for (const std::string& Note : Context.Notes) {
    Out << "  Note           " << Note << "\n";
  }
  if (Context.Trace) {
    Out << "Port accesses in order:\n";
    for (const std::string& Line : TraceLines(Board.Processor().Trace())) {
      Out << "  " << Line << "\n";
    }
  }
  const std::string Com1 = Board.Com1().Transmitted();
  const std::string Com2 = Board.Com2().Transmitted();
  const std::string Com1Name = Context.PciUart ? "PCI UART" : "COM1";
  Out << Com1Name << " (" << Counted(Com1.size(), "byte", "bytes") << "):\n"
      << (Com1.empty() ? std::string("  (nothing)\n") : TerminalView(Com1, "  | "));
  if (Context.PciUart) {
    return;
  }
  if (Com2 == Com1) {
    Out << "COM2 (" << Counted(Com2.size(), "byte", "bytes") << "): the same bytes as COM1\n";
  } else {
    Out << "COM2 (" << Counted(Com2.size(), "byte", "bytes") << "):\n"
        << (Com2.empty() ? std::string("  (nothing)\n") : TerminalView(Com2, "  | "));
  }
}
