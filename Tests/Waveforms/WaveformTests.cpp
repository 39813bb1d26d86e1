// The VCD writer's format, and the recorder's waveforms against the board's
// time model: bit edges, access marks, the interrupt flag and the modem lines.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Board.h"
#include "SerialFrame.h"
#include "VcdWriter.h"
#include "WaveformRecorder.h"

namespace {
using Edges = std::vector<std::pair<uint64_t, bool>>;  // the initial level at 0, then each change

// Reads back what the writer wrote: each wire's levels by name, with the
// scope it was declared in.
struct ReadDump {
  std::map<std::string, Edges> Wires;
  std::map<std::string, std::string> ScopeOf;
  uint64_t LastStamp = 0;
  std::string Timescale;
};

ReadDump Read(const std::string& Text) {
  ReadDump Dump;
  std::istringstream In(Text);
  std::map<std::string, std::string> NameOf;
  std::vector<std::string> Scopes;
  std::string Word;
  uint64_t Now = 0;
  while (In >> Word) {
    if (Word == "$timescale") {
      std::string Number, Unit;
      In >> Number >> Unit;
      Dump.Timescale = Number + " " + Unit;
    } else if (Word == "$scope") {
      std::string Kind, Name;
      In >> Kind >> Name;
      Scopes.push_back(Name);
    } else if (Word == "$upscope") {
      Scopes.pop_back();
    } else if (Word == "$var") {
      std::string Kind, Size, Code, Name;
      In >> Kind >> Size >> Code >> Name;
      NameOf[Code] = Name;
      Dump.ScopeOf[Name] = Scopes.back();
    } else if (Word[0] == '#') {
      Now = std::stoull(Word.substr(1));
      Dump.LastStamp = Now;
    } else if (Word[0] == '0' || Word[0] == '1') {
      Dump.Wires[NameOf.at(Word.substr(1))].push_back({Now, Word[0] == '1'});
    }
  }
  return Dump;
}

std::string Written(Sim::VcdWriter& Writer, uint64_t Until) {
  std::ostringstream Out;
  Writer.Write(Out, Until);
  return Out.str();
}

std::string Recorded(const Sim::WaveformRecorder& Waves) {
  std::ostringstream Out;
  Waves.Write(Out);
  return Out.str();
}

// The edges one frame puts on an idle-high line, from the datasheet's bit order.
Edges FrameEdges(uint64_t Start, uint8_t Value, uint16_t Divisor, uint8_t LineControl) {
  Edges Expected;
  bool Level = true;
  const unsigned Bits = SerialFrame::LeadingBits(LineControl);
  for (unsigned Bit = 0; Bit <= Bits; ++Bit) {
    const bool Next = Bit == Bits ? true : ((SerialFrame::LeadingLevels(Value, LineControl) >> Bit) & 1) != 0;
    if (Next != Level) {
      Expected.push_back({Start + SerialFrame::Nanoseconds(Divisor, 2 * Bit), Next});
      Level = Next;
    }
  }
  return Expected;
}

Edges After(const Edges& All, uint64_t From, uint64_t To) {
  Edges Within;
  for (const auto& Each : All) {
    if (Each.first >= From && Each.first < To) {
      Within.push_back(Each);
    }
  }
  return Within;
}

void Program(Sim::Board& Board, uint16_t Base, uint8_t Divisor, uint8_t LineControl) {
  Sim::Processor& Cpu = Board.Processor();
  Cpu.PortOut(Base + 3, 1, 0x80);
  Cpu.PortOut(Base + 0, 1, Divisor);
  Cpu.PortOut(Base + 1, 1, 0);
  Cpu.PortOut(Base + 3, 1, LineControl);
}
}  // namespace

TEST(VcdWriter, Header_DeclaresScopesWiresAndInitialLevels) {
  Sim::VcdWriter Writer("board");
  const auto Tx = Writer.Declare("com1", "com1_tx", true);
  Writer.Declare("cmos", "cmos_access", false);
  Writer.Declare("com1", "com1_access", false);
  const std::string Text = Written(Writer, 0);
  EXPECT_NE(Text.find("$timescale 1 ns $end"), std::string::npos);
  // One scope per device under the top one, each wire in its own scope.
  EXPECT_NE(Text.find("$scope module board $end\n $scope module com1 $end\n  $var wire 1 ! com1_tx $end\n"
                      "  $var wire 1 # com1_access $end\n $upscope $end\n $scope module cmos $end"),
            std::string::npos)
      << Text;
  EXPECT_NE(Text.find("$dumpvars\n1!\n0\"\n0#\n$end\n"), std::string::npos) << Text;
  EXPECT_EQ(Tx, 0u);
  EXPECT_THROW(Writer.Declare("com2", "com1_tx", true), std::logic_error);
}

TEST(VcdWriter, Changes_InTimeOrderLastOfAMomentWinsRepeatsLeftOut) {
  Sim::VcdWriter Writer("board");
  const auto A = Writer.Declare("s", "a", false);
  const auto B = Writer.Declare("s", "b", true);
  Writer.Change(300, A, false);
  Writer.Change(100, A, true);
  Writer.Change(200, B, false);
  Writer.Change(200, B, true);  // undone at the same moment: no change at 200
  Writer.Change(250, B, true);  // already high: left out
  Writer.Change(0, B, false);   // time 0 is the initial level
  const ReadDump Dump = Read(Written(Writer, 1000));
  EXPECT_EQ(Dump.Wires.at("a"), (Edges{{0, false}, {100, true}, {300, false}}));
  EXPECT_EQ(Dump.Wires.at("b"), (Edges{{0, false}, {200, true}}));
  EXPECT_EQ(Dump.LastStamp, 1000u);  // the levels last to the end of the run
}

TEST(VcdWriter, Codes_DistinctPrintableAndShortFirst) {
  EXPECT_EQ(Sim::VcdWriter::Code(0), "!");
  EXPECT_EQ(Sim::VcdWriter::Code(93), "~");
  EXPECT_EQ(Sim::VcdWriter::Code(94), "!!");
  std::map<std::string, uint32_t> Seen;
  for (uint32_t Each = 0; Each < 20000; ++Each) {
    const std::string Code = Sim::VcdWriter::Code(Each);
    for (const char Character : Code) {
      ASSERT_TRUE(Character >= '!' && Character <= '~');
    }
    ASSERT_TRUE(Seen.emplace(Code, Each).second) << Code << " for " << Each << " and " << Seen[Code];
  }
}

TEST(WaveformRecorder, FramesAtTwoRates_EdgesWhereTheTimeModelPutsThem) {
  Sim::Board Board;
  Sim::WaveformRecorder Waves(Board, {});
  Program(Board, Sim::Board::Com1Base, 1, 0x03);  // 115200 8N1
  Board.Processor().PortOut(Sim::Board::Com1Base, 1, 'A');
  Board.Settle();
  Program(Board, Sim::Board::Com1Base, 12, 0x1A);  // 9600 7E1
  Board.Processor().PortOut(Sim::Board::Com1Base, 1, 'A');
  Board.Settle();

  const std::vector<Sim::UartFrame>& Line = Board.Com1().Line();
  ASSERT_EQ(Line.size(), 2u);
  const ReadDump Dump = Read(Recorded(Waves));
  EXPECT_EQ(Dump.Timescale, "1 ns");
  const Edges& Tx = Dump.Wires.at("com1_tx");
  EXPECT_EQ(Tx.front(), (std::pair<uint64_t, bool>{0, true}));  // idle high
  EXPECT_EQ(After(Tx, Line[0].Start, Line[0].End + 1), FrameEdges(Line[0].Start, 'A', 1, 0x03));
  EXPECT_EQ(After(Tx, Line[1].Start, Line[1].End + 1), FrameEdges(Line[1].Start, 'A', 12, 0x1A));
  // The stop bit is idle level; the dump lasts until the model says it ends.
  EXPECT_EQ(Dump.LastStamp, Line[1].End);
  EXPECT_EQ(Dump.Wires.at("com2_tx"), (Edges{{0, true}}));
  EXPECT_EQ(Dump.ScopeOf.at("com1_tx"), "com1");
}

TEST(WaveformRecorder, BackToBackFrames_StopBitRunsIntoTheNextStartBit) {
  Sim::Board Board;
  Board.PreconfigureUarts(1, 0x03, 0x01);
  Sim::WaveformRecorder Waves(Board, {});
  for (const char Each : {'\xFF', '\x00'}) {
    Board.Processor().PortOut(Sim::Board::Com2Base, 1, static_cast<uint8_t>(Each));
  }
  Board.Settle();
  const auto& Line = Board.Com2().Line();
  ASSERT_EQ(Line.size(), 2u);
  ASSERT_EQ(Line[1].Start, Line[0].End);
  // 0xFF is a start bit and nine high bits; 0x00 starts at once and stays low.
  EXPECT_EQ(Read(Recorded(Waves)).Wires.at("com2_tx"),
            (Edges{{0, true}, {Line[0].Start, false}, {Line[0].Start + 8681, true}, {Line[1].Start, false},
                   {Line[1].End - 8681, true}}));
}

TEST(WaveformRecorder, Accesses_MarkedPerDeviceForHalfAnAccess) {
  Sim::Board Board;
  Sim::WaveformRecorder Waves(Board, {});
  Sim::Processor& Cpu = Board.Processor();
  Cpu.PortOut(0x70, 1, 0x6F);     // 0..1000
  Cpu.PortIn(0x71, 1);            // 1000..2000
  Cpu.PortIn(0x3FD, 1);           // COM1 LSR
  Cpu.PortIn(0x2FD, 1);           // COM2 LSR
  Cpu.PortOut(0xCF8, 4, 0x80000000u);
  Cpu.PortIn(0x4E, 1);            // Super I/O
  Cpu.PortOut(0xE8, 4, 0x4C6F6F70);
  Cpu.PortIn(0x80, 1);            // nothing decodes port 0x80
  const ReadDump Dump = Read(Recorded(Waves));
  EXPECT_EQ(Dump.Wires.at("cmos_access"), (Edges{{0, true}, {500, false}, {1000, true}, {1500, false}}));
  EXPECT_EQ(Dump.Wires.at("com1_access"), (Edges{{0, false}, {2000, true}, {2500, false}}));
  EXPECT_EQ(Dump.Wires.at("com2_access"), (Edges{{0, false}, {3000, true}, {3500, false}}));
  EXPECT_EQ(Dump.Wires.at("pci_config_access"), (Edges{{0, false}, {4000, true}, {4500, false}}));
  EXPECT_EQ(Dump.Wires.at("superio_access"), (Edges{{0, false}, {5000, true}, {5500, false}}));
  EXPECT_EQ(Dump.Wires.at("port_e8_access"), (Edges{{0, false}, {6000, true}, {6500, false}}));
  EXPECT_EQ(Dump.Wires.at("unclaimed_access"), (Edges{{0, false}, {7000, true}, {7500, false}}));
  EXPECT_EQ(Dump.ScopeOf.at("superio_access"), "superio");
}

TEST(WaveformRecorder, InterruptFlag_FollowsCliAndSti) {
  Sim::Board Board;
  Board.Processor().SetInterruptFlag(true);  // as an earlier stage left it
  Sim::WaveformRecorder Waves(Board, {});
  Sim::Processor& Cpu = Board.Processor();
  Cpu.SetInterruptFlag(false);
  Cpu.PortIn(0x71, 1);
  Cpu.SetInterruptFlag(false);  // cli again: no edge
  Cpu.PortIn(0x71, 1);
  Cpu.SetInterruptFlag(true);
  EXPECT_EQ(Read(Recorded(Waves)).Wires.at("cpu_interrupt_flag"), (Edges{{0, false}, {2000, true}}));
}

TEST(WaveformRecorder, ModemLines_OnlyWhenChosenAndActiveLow) {
  {
    Sim::Board Board;
    Sim::WaveformRecorder Waves(Board, {});
    EXPECT_EQ(Read(Recorded(Waves)).Wires.count("com1_rts_n"), 0u);
  }
  Sim::Board Board;
  Sim::WaveformRecorder Waves(Board, {.ModemLines = true});
  Sim::Processor& Cpu = Board.Processor();
  // A write takes effect when its bus cycle ends.
  Cpu.PortOut(Sim::Board::Com1Base + 4, 1, 0x03);  // DTR and RTS, at 1000
  Cpu.PortOut(Sim::Board::Com1Base + 4, 1, 0x13);  // loopback holds both pins inactive, at 2000
  Board.Com2().SetModemLines(false, true);          // the peer on COM2 says stop, at 2000
  const ReadDump Dump = Read(Recorded(Waves));
  EXPECT_EQ(Dump.Wires.at("com1_rts_n"), (Edges{{0, true}, {1000, false}, {2000, true}}));
  EXPECT_EQ(Dump.Wires.at("com1_dtr_n"), (Edges{{0, true}, {1000, false}, {2000, true}}));
  EXPECT_EQ(Dump.Wires.at("com1_cts_n"), (Edges{{0, false}}));
  EXPECT_EQ(Dump.Wires.at("com2_cts_n"), (Edges{{0, false}, {2000, true}}));
  EXPECT_EQ(Dump.Wires.at("com2_dsr_n"), (Edges{{0, false}}));
  EXPECT_EQ(Dump.ScopeOf.at("com2_dsr_n"), "com2");
}

// The peer's pause starts when the chosen byte's stop bit ends, not when the
// module next looks, and lasts exactly as long as asked.
TEST(WaveformRecorder, PeerPause_CtsDropsAtTheFrameEndForTheGivenTime) {
  Sim::Board Board;
  Board.PreconfigureUarts(1, 0x03, 0x01);
  Board.Com1().Pause = Sim::Uart16550Model::PeerPause{2, 50000};
  Sim::WaveformRecorder Waves(Board, {.ModemLines = true});
  Sim::Processor& Cpu = Board.Processor();
  for (const char Each : {'a', 'b', 'c'}) {
    Cpu.PortOut(Sim::Board::Com1Base, 1, static_cast<uint8_t>(Each));
  }
  while (Cpu.Now() < 400000) {
    Cpu.PortIn(Sim::Board::Com1Base + 6, 1);  // MSR, as a flow-control driver polls
  }
  const auto& Line = Board.Com1().Line();
  ASSERT_EQ(Line.size(), 3u);
  const ReadDump Dump = Read(Recorded(Waves));
  EXPECT_EQ(Dump.Wires.at("com1_cts_n"), (Edges{{0, false}, {Line[1].End, true}, {Line[1].End + 50000, false}}));
  // The FIFO's third byte goes out all the same: CTS holds back the driver, not the UART.
  EXPECT_EQ(Line[2].Start, Line[1].End);
  EXPECT_EQ(Board.Com2().ModemLineHistory().size(), 1u);
}
