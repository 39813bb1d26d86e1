// SerialWrite on the standard board: both lines, chunking, flush, faults.
#include <gtest/gtest.h>

#include <string>

#include "BuildSettings.h"
#include "BusTrace.h"
#include "Library/SerialPortLib.h"
#include "Board.h"

using namespace SerialTrace;

namespace {
const std::string Text40 = "The quick brown fox jumps over the dog.\n";

UINTN Write(const std::string& Text) {
  return SerialWrite(reinterpret_cast<const UINT8*>(Text.data()), static_cast<UINTN>(Text.size()));
}
}  // namespace

// The models must capture output, or every "prints nothing" test would pass.
TEST(SerialWrite, FortyBytes_ReachBothUartsUnchanged) {
  Sim::Board Board;
  ASSERT_EQ(SerialInit(), EFI_SUCCESS);
  ASSERT_EQ(Text40.size(), 40u);
  EXPECT_EQ(Write(Text40), 40u);
  EXPECT_EQ(Board.Com1().Transmitted(), Text40);
  EXPECT_EQ(Board.Com2().Transmitted(), Text40);
}


TEST(SerialWrite, FortyBytes_GoOutAs16_16And8AfterTheFifoTestAndTheTemtWaits) {
  Sim::Board Board;
  Board.PreconfigureUarts();
  Board.Processor().ClearTrace();
  EXPECT_EQ(Write(Text40), 40u);
  EXPECT_EQ(Skeleton(Board.Processor().Trace()), ExpectedChunks(Text40, 16));
}

TEST(SerialWrite, EveryByte_LeavesBothLinesUnchangedInOrderAtTheSelectedBaud8N1) {
  Sim::Board Board;
  Board.SelectBaud(0x04);  // 19200
  ASSERT_EQ(SerialInit(), EFI_SUCCESS);
  std::string Text;
  for (int Byte = 0; Byte < 256; ++Byte) {
    Text += static_cast<char>(Byte);
  }
  EXPECT_EQ(Write(Text), 256u);
  Board.Settle();
  for (Sim::Uart16550Model* Uart : {&Board.Com1(), &Board.Com2()}) {
    ASSERT_EQ(Uart->Line().size(), 256u);
    for (size_t At = 0; At < 256; ++At) {
      const Sim::UartFrame& Frame = Uart->Line()[At];
      ASSERT_EQ(Frame.Value, static_cast<uint8_t>(At));
      ASSERT_EQ(Frame.Divisor, 6);
      ASSERT_EQ(Frame.LineControl, 0x03);
      ASSERT_FALSE(Frame.Disturbed);
    }
    EXPECT_EQ(Uart->Overruns(), 0u);
  }
}

TEST(SerialWrite, ZeroLength_FlushesBothUartsAndReturnsZero) {
  Sim::Board Board;
  Board.PreconfigureUarts();
  ASSERT_EQ(Write(Text40), 40u);
  Board.Processor().ClearTrace();
  EXPECT_EQ(SerialWrite(reinterpret_cast<const UINT8*>("x"), 0), 0u);
  EXPECT_EQ(Skeleton(Board.Processor().Trace()), "L3 L2 ");
  EXPECT_EQ(Board.Com1().Line().size(), 40u);  // every frame has started...
  EXPECT_LE(Board.Com1().IdleAt(), Board.Processor().Now());  // ...and ended
  EXPECT_LE(Board.Com2().IdleAt(), Board.Processor().Now());
}

// Reading MSR would clear its delta bits, which a build without flow control
// has no business taking.
TEST(SerialWritable, WithoutFlowControl_IsTrueWhateverTheLinesSayAndReadsNothing) {
  static_assert(!Settings::UartHardwareFlowControl);
  Sim::Board Board;
  Board.SetModemLines(false, true);  // a peer that is there and says stop
  Board.Processor().ClearTrace();
  EXPECT_TRUE(SerialWritable(0x3F8));
  EXPECT_TRUE(SerialWritable(0x2F8));
  EXPECT_TRUE(Board.Processor().Trace().empty());
}

TEST(SerialWrite, NullBuffer_ReturnsZeroWithoutTouchingTheUarts) {
  Sim::Board Board;
  EXPECT_EQ(SerialWrite(nullptr, 5), 0u);
  EXPECT_EQ(SerialWrite(nullptr, 0), 0u);
  EXPECT_TRUE(Board.Processor().Trace().empty());
}

// Mended: a UART whose FIFOs turn off is left out of the rest of the call,
// and the other goes on; when neither is left, the bytes already on the wire
// are reported as sent (a caller that retried on 0 would send them twice).
TEST(SerialWrite, FifosTurnOffBeforeALaterChunk_ThatUartIsLeftOutAndTheCountIsWhatWasSent) {
  for (const bool BothOff : {false, true}) {
    Sim::Board Board;
    Board.PreconfigureUarts();
    unsigned Accepted = 0;
    Board.Com2().OnTransmitWrite = [&](uint8_t) {
      if (++Accepted == 16) {
        Board.Com1().FifosReportedOff = true;
        Board.Com2().FifosReportedOff = BothOff;
      }
    };
    EXPECT_EQ(Write(Text40), BothOff ? 16u : 40u);
    EXPECT_EQ(Board.Com1().Transmitted(), Text40.substr(0, 16));
    EXPECT_EQ(Board.Com2().Transmitted(), BothOff ? Text40.substr(0, 16) : Text40);
  }
}

TEST(SerialWrite, BothUartsReportFifosOff_SendsNothingAndReturnsZero) {
  Sim::Board Board;
  Board.PreconfigureUarts().ReportFifosOff();
  Board.Processor().ClearTrace();
  EXPECT_EQ(Write(Text40), 0u);
  EXPECT_EQ(Skeleton(Board.Processor().Trace()), "I I2 ");
  EXPECT_EQ(Board.Com1().Transmitted(), "");
  EXPECT_EQ(Board.Com2().Transmitted(), "");
}

// Mended: a first UART that never drains is given up by SerialInit before it
// is programmed, so its FIFOs stay off; the FIFO test on it stopped every
// write, and the second UART, healthy, got nothing either.
TEST(SerialWrite, FirstUartNeverProgrammed_SecondCarriesEveryByteOfEveryCall) {
  Sim::Board Board;
  Board.Com1().StuckTransmitter = true;
  ASSERT_EQ(SerialInit(), EFI_SUCCESS);
  ASSERT_FALSE(Board.Com1().FifosEnabled());
  Board.Processor().ClearTrace();
  EXPECT_EQ(Write(Text40), 40u);
  EXPECT_EQ(Write("and again\n"), 10u);
  Board.Settle();
  EXPECT_EQ(Board.Com2().Transmitted(), Text40 + "and again\n");
  EXPECT_EQ(Board.Com1().Transmitted(), "");
  // Each chunk: COM1's IIR leaves it out, COM2's own lets it go on; COM1's
  // LSR is never polled, so the stuck line costs nothing per message.
  EXPECT_EQ(ReadsOf(Board.Processor().Trace(), 0x3FD), 0u);
  const std::string Skeleton40 = Skeleton(Board.Processor().Trace()).substr(0, 12);
  EXPECT_EQ(Skeleton40, "I I2 L2 2T 2");
}

// Mended: the TEMT waits had no time limit, so one UART that never drained
// stopped every message, on both lines.
TEST(SerialWrite, OneUartNeverDrains_IsGivenUpOnceAndTheOtherGetsEveryByte) {
  const std::string Text = Text40.substr(0, 20);
  for (const bool Com1Stuck : {true, false}) {
    Sim::Board Board;
    Board.PreconfigureUarts();
    Sim::Uart16550Model& Stuck = Com1Stuck ? Board.Com1() : Board.Com2();
    Sim::Uart16550Model& Healthy = Com1Stuck ? Board.Com2() : Board.Com1();
    Stuck.StuckTransmitter = true;
    Board.Processor().ClearTrace();
    EXPECT_EQ(Write(Text), 20u);
    EXPECT_EQ(Healthy.Transmitted(), Text);
    EXPECT_EQ(Stuck.Transmitted(), "");
    const uint32_t StuckBase = Stuck.Where().Base;
    EXPECT_EQ(ReadsOf(Board.Processor().Trace(), StuckBase + 5), SerialPollLimit) << "one bound in the whole call";
    // Given up, the UART is left alone: the later chunk does not wait on it
    // again (the FIFO test still reads the IIR of the UART found).
    std::string Expected = Com1Stuck ? "I L3? L2 " : "I L3 L2? ";
    for (size_t At = 0; At < Text.size(); ++At) {
      if (At == 16) {
        Expected += Com1Stuck ? "I L2 " : "I L3 ";
      }
      Expected += std::string(Com1Stuck ? "2" : "3") + Text[At] + " ";
    }
    EXPECT_EQ(Skeleton(Board.Processor().Trace()), Expected);
  }
}

TEST(SerialWrite, BothUartsNeverDrain_ReturnsZeroAfterOneBoundEach) {
  Sim::Board Board;
  Board.PreconfigureUarts().StickTransmitters();
  Board.Processor().ClearTrace();
  EXPECT_EQ(Write(Text40), 0u);
  EXPECT_EQ(Skeleton(Board.Processor().Trace()), "I L3? L2? ");
  EXPECT_EQ(ReadsOf(Board.Processor().Trace(), 0x3FD), SerialPollLimit);
  EXPECT_EQ(ReadsOf(Board.Processor().Trace(), 0x2FD), SerialPollLimit);
}

TEST(SerialWrite, BothUartsStopDrainingMidWrite_ReturnsTheBytesAlreadySent) {
  Sim::Board Board;
  Board.PreconfigureUarts();
  unsigned Accepted = 0;
  Board.Com2().OnTransmitWrite = [&](uint8_t) {
    if (++Accepted == 16) {
      Board.StickTransmitters();
    }
  };
  EXPECT_EQ(Write(Text40), 16u);
  EXPECT_EQ(Board.Com1().Transmitted(), Text40.substr(0, 16));
}

TEST(SerialWrite, FlushWithAUartThatNeverDrains_GivesItUpAndStillDrainsTheOther) {
  for (const bool Com1Stuck : {true, false}) {
    Sim::Board Board;
    Board.PreconfigureUarts();
    ASSERT_EQ(Write(Text40), 40u);
    (Com1Stuck ? Board.Com1() : Board.Com2()).StuckTransmitter = true;
    Sim::Uart16550Model& Healthy = Com1Stuck ? Board.Com2() : Board.Com1();
    Board.Processor().ClearTrace();
    EXPECT_EQ(SerialWrite(reinterpret_cast<const UINT8*>("x"), 0), 0u);
    EXPECT_EQ(Skeleton(Board.Processor().Trace()), Com1Stuck ? "L3? L2 " : "L3 L2? ");
    EXPECT_EQ(ReadsOf(Board.Processor().Trace(), Com1Stuck ? 0x3FD : 0x2FD), SerialPollLimit);
    EXPECT_LE(Healthy.IdleAt(), Board.Processor().Now());
  }
}
