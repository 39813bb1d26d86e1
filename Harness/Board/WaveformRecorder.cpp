// Collects the board's accesses while the module runs, and afterwards draws
// them with the UARTs' frames and modem lines into a VCD.
#include "WaveformRecorder.h"

#include <algorithm>

#include "SerialFrame.h"
#include "VcdWriter.h"

namespace Sim {
namespace {
struct GroupWire {
  const char* Scope;
  const char* Name;
};
// Indexed by WaveformRecorder::Group.
constexpr GroupWire GroupWires[] = {
    {"cmos", "cmos_access"},           {"superio", "superio_access"},   {"com1", "com1_access"},
    {"com2", "com2_access"},           {"pci_config", "pci_config_access"}, {"port_e8", "port_e8_access"},
    {"bus", "unclaimed_access"},
};

void DrawFrames(VcdWriter& Dump, VcdWriter::Wire Tx, const std::vector<UartFrame>& Frames) {
  for (const UartFrame& Frame : Frames) {
    const uint16_t Levels = SerialFrame::LeadingLevels(Frame.Value, Frame.LineControl);
    const unsigned Bits = SerialFrame::LeadingBits(Frame.LineControl);
    for (unsigned Bit = 0; Bit < Bits; ++Bit) {
      Dump.Change(Frame.Start + SerialFrame::Nanoseconds(Frame.Divisor, 2 * Bit), Tx, ((Levels >> Bit) & 1) != 0);
    }
    // The stop bits are at the idle level.
    Dump.Change(Frame.Start + SerialFrame::Nanoseconds(Frame.Divisor, 2 * Bits), Tx, true);
  }
}

// Pin levels: the modem lines are active low.
void DrawModemLines(VcdWriter& Dump, const char* Scope, const std::string& Prefix,
                    const std::vector<ModemLines>& History) {
  const ModemLines& First = History.front();
  const VcdWriter::Wire Rts = Dump.Declare(Scope, Prefix + "_rts_n", !First.Rts);
  const VcdWriter::Wire Dtr = Dump.Declare(Scope, Prefix + "_dtr_n", !First.Dtr);
  const VcdWriter::Wire Cts = Dump.Declare(Scope, Prefix + "_cts_n", !First.Cts);
  const VcdWriter::Wire Dsr = Dump.Declare(Scope, Prefix + "_dsr_n", !First.Dsr);
  for (const ModemLines& Each : History) {
    Dump.Change(Each.At, Rts, !Each.Rts);
    Dump.Change(Each.At, Dtr, !Each.Dtr);
    Dump.Change(Each.At, Cts, !Each.Cts);
    Dump.Change(Each.At, Dsr, !Each.Dsr);
  }
}
}  // namespace

WaveformRecorder::WaveformRecorder(Board& Board, Choices Wanted)
    : Observed(Board), With(Wanted), InitialFlag(Board.Processor().InterruptFlag) {
  PortGroups = {{&Board.Cmos(), Group::Cmos},
                {&Board.SuperIo(), Group::SuperIo},
                {&Board.Com1(), Group::Com1},
                {&Board.Com2(), Group::Com2},
                {&Board.Pci(), Group::PciConfig},
                {&Board.Diagnostics(), Group::DiagnosticPort}};
  MemoryGroups = {{&Board.Com1(), Group::Com1}, {&Board.Com2(), Group::Com2}, {&Board.Pci(), Group::PciConfig}};
  Board.Processor().Observer = [this](const BusEvent& Event) { Observe(Event); };
}

WaveformRecorder::~WaveformRecorder() { Observed.Processor().Observer = nullptr; }

void WaveformRecorder::CountAsCom1(const PortDevice* Port, const MemoryDevice* Memory) {
  PortGroups.push_back({Port, Group::Com1});
  MemoryGroups.push_back({Memory, Group::Com1});
}

WaveformRecorder::Group WaveformRecorder::Decoding(const BusEvent& Event) const {
  const bool OnPorts = Event.What == BusEvent::Kind::PortIn || Event.What == BusEvent::Kind::PortOut;
  if (OnPorts) {
    const PortDevice* Owner = Observed.Processor().PortDecoder(static_cast<uint16_t>(Event.Address));
    for (const auto& [Device, To] : PortGroups) {
      if (Device == Owner) {
        return To;
      }
    }
    return Group::Unclaimed;
  }
  const MemoryDevice* Owner = Observed.Processor().MemoryDecoder(Event.Address);
  for (const auto& [Device, To] : MemoryGroups) {
    if (Device == Owner) {
      return To;
    }
  }
  return Group::Unclaimed;
}

void WaveformRecorder::Observe(const BusEvent& Event) {
  const Processor& Cpu = Observed.Processor();
  switch (Event.What) {
    case BusEvent::Kind::PortIn:
    case BusEvent::Kind::PortOut:
    case BusEvent::Kind::MemoryRead:
    case BusEvent::Kind::MemoryWrite:
      // The access has taken its time on the clock when the seam reports it.
      Accesses.push_back({Cpu.Now() - std::min(Cpu.Now(), Cpu.AccessNanoseconds), Decoding(Event)});
      return;
    case BusEvent::Kind::InterruptsOff:
    case BusEvent::Kind::InterruptsOn:
      Flags.push_back({Cpu.Now(), Event.What == BusEvent::Kind::InterruptsOn});
      return;
    default:
      return;
  }
}

uint64_t WaveformRecorder::Write(std::ostream& Out) const {
  VcdWriter Dump("board");
  const VcdWriter::Wire Flag = Dump.Declare("cpu", "cpu_interrupt_flag", InitialFlag);
  VcdWriter::Wire Marks[std::size(GroupWires)];
  for (size_t Each = 0; Each < std::size(GroupWires); ++Each) {
    Marks[Each] = Dump.Declare(GroupWires[Each].Scope, GroupWires[Each].Name, false);
  }
  Board& Wired = Observed;
  const VcdWriter::Wire Com1Tx = Dump.Declare("com1", "com1_tx", true);
  const VcdWriter::Wire Com2Tx = Dump.Declare("com2", "com2_tx", true);
  if (With.ModemLines) {
    DrawModemLines(Dump, "com1", "com1", Wired.Com1().ModemLineHistory());
    DrawModemLines(Dump, "com2", "com2", Wired.Com2().ModemLineHistory());
  }

  for (const FlagChange& Each : Flags) {
    Dump.Change(Each.At, Flag, Each.Enabled);
  }
  // A mark lasts half an access, so that back-to-back accesses stay apart.
  const uint64_t MarkLength = std::max<uint64_t>(1, Wired.Processor().AccessNanoseconds / 2);
  uint64_t End = Wired.Processor().Now();
  for (const Access& Each : Accesses) {
    Dump.Pulse(Each.Start, Each.Start + MarkLength, Marks[static_cast<size_t>(Each.To)]);
    End = std::max(End, Each.Start + MarkLength);
  }
  DrawFrames(Dump, Com1Tx, Wired.Com1().Line());
  DrawFrames(Dump, Com2Tx, Wired.Com2().Line());
  for (Uart16550Model* Uart : {&Wired.Com1(), &Wired.Com2()}) {
    if (!Uart->Line().empty()) {
      End = std::max(End, Uart->Line().back().End);
    }
  }
  Dump.Write(Out, End);
  return End;
}

}  // namespace Sim
