// The serial console's board devices against their datasheets: CMOS, Super
// I/O, the 16550 (reset state, time model, FIFOs, faults) and the watchdog.
#include <gtest/gtest.h>

#include "Library/IoLib.h"
#include "Board.h"

namespace {
constexpr uint16_t Thr = 0x3F8, Ier = 0x3F9, Iir = 0x3FA, Fcr = 0x3FA, Lcr = 0x3FB, Mcr = 0x3FC, Lsr = 0x3FD,
                   Msr = 0x3FE, Scr = 0x3FF;
constexpr uint64_t Frame8N1At115200 = 86806;  // 10 bits x 16 / 1.8432 MHz, in ns
}  // namespace

TEST(Uart16550Model, ResetState_IsTheChipsPowerOnState) {
  Sim::Board Board;
  EXPECT_EQ(PortIn8(Ier), 0x00);
  EXPECT_EQ(PortIn8(Iir), 0x01);
  EXPECT_EQ(PortIn8(Lcr), 0x00);
  EXPECT_EQ(PortIn8(Mcr), 0x00);
  EXPECT_EQ(PortIn8(Lsr), 0x60);
  EXPECT_EQ(PortIn8(Msr), 0xB0);  // CTS, DSR and DCD from an attached terminal
  PortOut8(Scr, 0x5A);
  EXPECT_EQ(PortIn8(Scr), 0x5A);
}

TEST(Uart16550Model, FrameTimes_FollowDivisorAndLineControl) {
  struct Case {
    uint16_t Divisor;
    uint8_t LineControl;
    uint64_t Nanoseconds;
  };
  const Case Cases[] = {
      {1, 0x03, Frame8N1At115200},  // 8N1: 10 bits
      {12, 0x03, 1041667},          // 9600 baud
      {1, 0x07, 95486},             // 8N2: 11 bits
      {1, 0x0B, 95486},             // 8O1: 11 bits
      {1, 0x04, 65104},             // 5 data bits with 1.5 stop bits: 7.5 bits
      {1, 0x83, Frame8N1At115200},  // DLAB does not shape the frame
  };
  for (const Case& Each : Cases) {
    EXPECT_EQ(Sim::Uart16550Model::FrameNanoseconds(Each.Divisor, Each.LineControl), Each.Nanoseconds)
        << "divisor " << Each.Divisor << " LCR 0x" << std::hex << +Each.LineControl;
  }
}

TEST(Uart16550Model, Transmitter_ReportsEmptyOnlyAfterTheLineHasSentTheFrame) {
  Sim::Board Board;
  Board.PreconfigureUarts(1, 0x03, 0x01);
  PortOut8(Thr, 'A');
  PortOut8(Thr, 'B');
  EXPECT_EQ(PortIn8(Lsr) & 0x60, 0x00);  // B waits in the FIFO
  Board.Processor().Elapse(Frame8N1At115200);
  EXPECT_EQ(PortIn8(Lsr) & 0x60, 0x20);  // B is shifting out
  Board.Processor().Elapse(Frame8N1At115200);
  EXPECT_EQ(PortIn8(Lsr) & 0x60, 0x60);
  const auto& Line = Board.Com1().Line();
  ASSERT_EQ(Line.size(), 2u);
  EXPECT_EQ(Line[0].Value, 'A');
  EXPECT_EQ(Line[1].Start, Line[0].End);  // back to back
  EXPECT_EQ(Line[1].End - Line[1].Start, Frame8N1At115200);
  EXPECT_EQ(Line[1].Divisor, 1);
  EXPECT_EQ(Line[1].LineControl, 0x03);
}

TEST(Uart16550Model, Fifos_HoldWhatTheModeGivesAndCountOverruns) {
  struct Case {
    uint8_t FifoControl;
    unsigned Accepted;  // the shift register takes one more than the FIFO
    uint8_t Identity;   // IIR with no interrupt pending
  };
  const Case Cases[] = {{0x00, 2, 0x01}, {0x01, 17, 0xC1}, {0x21, 65, 0xE1}};
  for (const Case& Each : Cases) {
    Sim::Board Board;
    Board.PreconfigureUarts(1, 0x03, Each.FifoControl);
    Board.Processor().AccessNanoseconds = 0;  // freeze the line
    for (unsigned Count = 0; Count < Each.Accepted + 3; ++Count) {
      PortOut8(Thr, static_cast<UINT8>(Count));
    }
    EXPECT_EQ(Board.Com1().Overruns(), 3u) << "FCR 0x" << std::hex << +Each.FifoControl;
    EXPECT_EQ(Board.Com1().Transmitted().size(), Each.Accepted);
    EXPECT_EQ(PortIn8(Iir), Each.Identity);
  }
}

TEST(Uart16550Model, FifoReset_DiscardsQueuedBytesAndChangingFramingDisturbsTheFrameOnTheWire) {
  Sim::Board Board;
  Board.PreconfigureUarts(1, 0x03, 0x01);
  for (char Byte : std::string("abcd")) {
    PortOut8(Thr, static_cast<UINT8>(Byte));
  }
  PortOut8(Fcr, 0x00);
  EXPECT_EQ(Board.Com1().FlushedBytes(), 3u);
  PortOut8(Lcr, 0x80);  // word length 5 while 'a' shifts out
  EXPECT_EQ(Board.Com1().Transmitted(), "a");
  EXPECT_TRUE(Board.Com1().Line().back().Disturbed);
}

TEST(Uart16550Model, Faults_StuckLsrFifosReportedOffAndAbsentUart) {
  Sim::Board Board;
  Board.PreconfigureUarts(1, 0x03, 0x01);
  Board.Com1().StuckTransmitter = true;
  Board.Com1().FifosReportedOff = true;
  Board.Com2().Absent = true;
  PortOut8(Thr, 'x');
  Board.Processor().Elapse(10 * Frame8N1At115200);
  EXPECT_EQ(PortIn8(Lsr) & 0x60, 0x00);
  EXPECT_TRUE(Board.Com1().Line().empty());
  EXPECT_EQ(PortIn8(Iir), 0x01);
  EXPECT_TRUE(Board.Com1().FifosEnabled());
  EXPECT_EQ(PortIn8(0x2FD), 0xFF);
  PortOut8(0x2FB, 0x1F);
  EXPECT_EQ(Board.Com2().Lcr(), 0x03);
}

TEST(Uart16550Model, ModemStatus_ShowsLinesAndDeltasUntilRead) {
  Sim::Board Board;
  Board.Com1().SetModemLines(false, true);  // CTS dropped
  EXPECT_EQ(PortIn8(Msr), 0xA1);
  EXPECT_EQ(PortIn8(Msr), 0xA0);
  PortOut8(Mcr, 0x13);  // loopback with DTR and RTS: CTS and DSR follow them
  EXPECT_EQ(PortIn8(Msr) & 0xF0, 0x30);
  PortOut8(Lcr, 0x03);
  PortOut8(Thr, 'L');
  EXPECT_EQ(PortIn8(Lsr) & 0x01, 0x01);
  EXPECT_EQ(PortIn8(Thr), 'L');
  EXPECT_TRUE(Board.Com1().Line().empty());  // nothing on the wire in loopback
}

TEST(Uart16550Model, HoldingEmptyInterrupt_IsIdentifiedOnceAndAcknowledgedByTheRead) {
  Sim::Board Board;
  PortOut8(Ier, 0x02);
  EXPECT_EQ(PortIn8(Iir), 0x02);
  EXPECT_EQ(PortIn8(Iir), 0x01);
}

TEST(Uart16550Model, StridedPlacementInMemory_DecodesEveryFourthByte) {
  Sim::Board Board({.Com1 = {0xFEDC6000u, 4, true}});
  EXPECT_EQ(MmioIn8(0xFEDC6000u + 5 * 4), 0x60);
  EXPECT_EQ(MmioIn8(0xFEDC6000u + 5 * 4 + 1), 0x00);  // reserved byte
  MmioOut8(0xFEDC6000u + 3 * 4, 0x1B);
  EXPECT_EQ(Board.Com1().Lcr(), 0x1B);
  EXPECT_EQ(PortIn8(Lsr), 0xFF);  // nothing left on the legacy ports
}

TEST(Uart16550Model, StuckTransmitter_IsEndedByTheBoardWatchdog) {
  Sim::Board Board;
  Board.SetWatchdog(5000).StickTransmitters();
  EXPECT_THROW(
      {
        while ((PortIn8(Lsr) & 0x60) != 0x60) {
        }
      },
      Sim::BoardStall);
}

TEST(Uart16550Model, SlowLine_KeepsTheWatchdogQuietWhileCharactersLeave) {
  Sim::Board Board;
  Board.SetWatchdog(2000).PreconfigureUarts(12, 0x03, 0x01);  // 1042 accesses per frame
  for (int Count = 0; Count < 4; ++Count) {
    PortOut8(Thr, 'z');
  }
  EXPECT_NO_THROW({
    while ((PortIn8(Lsr) & 0x60) != 0x60) {
    }
  });
}

// A driver that gives a wait up and comes back to it later is no hang, however
// often it does so; one read, or two in turn, repeated past the limit is.
TEST(Uart16550Model, WaitsThatGiveUp_DoNotTripTheWatchdog) {
  Sim::Board Board;
  Board.SetWatchdog(5000).StickTransmitters();
  EXPECT_NO_THROW({
    for (int Wait = 0; Wait < 10; ++Wait) {
      for (int Poll = 0; Poll < 4000; ++Poll) {
        PortIn8(Lsr);
      }
      PortIn8(0x2FD);
    }
  });
  EXPECT_THROW(
      {
        for (int Poll = 0; Poll < 5010; ++Poll) {
          PortIn8(Lsr);
        }
      },
      Sim::BoardStall);
  EXPECT_THROW(
      {
        for (int Poll = 0; Poll < 2510; ++Poll) {
          PortIn8(Msr);
          PortIn8(0x2FE);
        }
      },
      Sim::BoardStall);
}

TEST(Uart16550Model, LongPolls_AreRunsOfOneStatusRegisterUntilTheUartSeesAnotherAccess) {
  Sim::Board Board;
  Board.StickTransmitters();
  Board.Com1().LongPollReads = 3;
  const auto ReadTimes = [](uint16_t Port, int Count) {
    for (int Each = 0; Each < Count; ++Each) {
      PortIn8(Port);
    }
  };
  ReadTimes(Lsr, 2);  // too short to keep
  PortIn8(Iir);
  ReadTimes(Lsr, 3);
  ReadTimes(Msr, 1);
  for (int Round = 0; Round < 4; ++Round) {  // COM2's accesses do not break COM1's run
    PortIn8(Msr);
    PortIn8(0x2FE);
  }
  PortOut8(Scr, 0);
  ReadTimes(Lsr, 6);  // still going
  const auto Runs = Board.Com1().LongPolls();
  ASSERT_EQ(Runs.size(), 3u);
  EXPECT_EQ(Runs[0].Register, 5u);
  EXPECT_EQ(Runs[0].Reads, 3u);
  EXPECT_EQ(Runs[1].Register, 6u);
  EXPECT_EQ(Runs[1].Reads, 5u);
  EXPECT_EQ(Runs[2].Reads, 6u);
  EXPECT_TRUE(Board.Com2().LongPolls().empty());  // not asked to keep any
}

TEST(Cmos, IndexLatch_IgnoresTheNmiBitForTheAddress) {
  Sim::Board Board;
  Board.SetCmos(0x6F, 0x42);
  PortOut8(0x70, 0xEF);
  EXPECT_EQ(PortIn8(0x71), 0x42);
  EXPECT_TRUE(Board.Cmos().NmiMasked());
  PortOut8(0x70, 0x10);
  PortOut8(0x71, 0x99);
  EXPECT_EQ(Board.Cmos().Get(0x10), 0x99);
  EXPECT_FALSE(Board.Cmos().NmiMasked());
}

TEST(SuperIo, LogicalDevices_KeepTheirOwnRegisters) {
  Sim::Board Board;
  PortOut8(0x4E, 0x07);
  PortOut8(0x4F, 0x03);
  PortOut8(0x4E, 0x30);
  PortOut8(0x4F, 0x01);
  PortOut8(0x4E, 0x07);
  PortOut8(0x4F, 0x02);
  PortOut8(0x4E, 0x30);
  EXPECT_EQ(PortIn8(0x4F), 0x00);
  EXPECT_TRUE(Board.SuperIo().Decodes(3, 0x3F8));
  EXPECT_FALSE(Board.SuperIo().Decodes(2, 0x2F8));
  EXPECT_EQ(Board.SuperIo().SelectedDevice(), 2);
  Board.RemoveSuperIo();
  EXPECT_EQ(PortIn8(0x4F), 0xFF);
  EXPECT_FALSE(Board.SuperIo().Decodes(3, 0x3F8));
}

TEST(SuperIo, UartsThatFollowIt_DecodeOnlyWhileTheirDeviceIsActiveAtTheirBase) {
  Sim::Board Board({.UartsFollowSuperIo = true});
  EXPECT_EQ(PortIn8(Lsr), 0xFF);
  Board.ActivateCom1Device();
  EXPECT_EQ(PortIn8(Lsr), 0x60);
  EXPECT_EQ(PortIn8(0x2FD), 0xFF);
  Board.SuperIo().SetRegister(3, 0x61, 0xE8);  // moved to 0x3E8
  EXPECT_EQ(PortIn8(Lsr), 0xFF);
}

TEST(DiagnosticPort, RecordsTheHaltCodes) {
  Sim::Board Board;
  PortOut32(0xE8, 0x4C6F6F70);
  PortOut8(0xE9, 0x01);
  EXPECT_EQ(Board.Diagnostics().Codes(), std::vector<uint32_t>{0x4C6F6F70});
  EXPECT_EQ(Board.Diagnostics().Writes().size(), 2u);
}
