// Hardware flow control, with and without cable detection (built once per variant).
#include <gtest/gtest.h>

#include <string>

#include "BuildSettings.h"
#include "BusTrace.h"
#include "Library/SerialPortLib.h"
#include "Board.h"

using namespace SerialTrace;

static_assert(Settings::UartHardwareFlowControl);

TEST(SerialWritable, ModemLines_DecideAsTheBuildSays) {
  struct Case {
    bool Cts;
    bool Dsr;
    bool Writable;          // flow control alone
    bool WritableDetected;  // with cable detection
  };
  const Case Cases[] = {
      {false, false, true, false},  // no peer
      {true, false, true, false},
      {false, true, false, false},  // peer present and says stop
      {true, true, true, true},
  };
  for (const Case& Each : Cases) {
    Sim::Board Board;
    Board.SetModemLines(Each.Cts, Each.Dsr);
    const bool Expected = Settings::UartDetectCable ? Each.WritableDetected : Each.Writable;
    EXPECT_EQ(SerialWritable(0x3F8), Expected) << "CTS " << Each.Cts << " DSR " << Each.Dsr;
    EXPECT_EQ(SerialWritable(0x2F8), Expected);
  }
}

TEST(SerialWrite, FirstUartMayNotTakeAByte_SecondIsAskedAndEitherSuffices) {
  Sim::Board Board;
  Board.PreconfigureUarts();
  Board.Com1().SetModemLines(false, true);
  Board.Processor().ClearTrace();
  EXPECT_EQ(SerialWrite(reinterpret_cast<const UINT8*>("ab"), 2), 2u);
  EXPECT_EQ(Skeleton(Board.Processor().Trace()), "I L3 L2 M3 M2 3a 2a M3 M2 3b 2b ");
  EXPECT_EQ(Board.Com1().Transmitted(), "ab");  // flow control holds nothing back once either says yes
}

TEST(SerialWrite, FirstUartMayTakeAByte_SecondIsNotAsked) {
  Sim::Board Board;
  Board.PreconfigureUarts();
  Board.Com2().SetModemLines(false, true);
  Board.Processor().ClearTrace();
  EXPECT_EQ(SerialWrite(reinterpret_cast<const UINT8*>("ab"), 2), 2u);
  EXPECT_EQ(Skeleton(Board.Processor().Trace()), "I L3 L2 M3 3a 2a M3 3b 2b ");
}

TEST(SerialWrite, Flush_WaitsForBothLinesThenAsksEachUartInOrder) {
  Sim::Board Board;
  Board.PreconfigureUarts();
  Board.Processor().ClearTrace();
  EXPECT_EQ(SerialWrite(reinterpret_cast<const UINT8*>("x"), 0), 0u);
  EXPECT_EQ(Skeleton(Board.Processor().Trace()), "L3 L2 M3 M2 ");
}

// Mended: the flow-control waits had no time limit, so a peer that never let
// go (or a dead cable) stopped the boot at the first message.
TEST(SerialWrite, NeitherUartMayTakeAByte_BothAreGivenUpAfterTheBound) {
  Sim::Board Board;
  Board.PreconfigureUarts().SetModemLines(false, true);
  Board.Processor().ClearTrace();
  EXPECT_EQ(SerialWrite(reinterpret_cast<const UINT8*>("xy"), 2), 0u);
  EXPECT_EQ(ReadsOf(Board.Processor().Trace(), 0x3FE), SerialPollLimit);
  EXPECT_EQ(ReadsOf(Board.Processor().Trace(), 0x2FE), SerialPollLimit);
  EXPECT_EQ(Board.Com1().Transmitted(), "");
  EXPECT_EQ(Board.Com2().Transmitted(), "");
}

TEST(SerialWrite, PeersHoldOffMidWrite_ReturnsTheBytesAlreadySent) {
  Sim::Board Board;
  Board.PreconfigureUarts();
  unsigned Accepted = 0;
  Board.Com2().OnTransmitWrite = [&](uint8_t) {
    if (++Accepted == 5) {
      Board.SetModemLines(false, true);
    }
  };
  EXPECT_EQ(SerialWrite(reinterpret_cast<const UINT8*>("0123456789"), 10), 5u);
  EXPECT_EQ(Board.Com2().Transmitted(), "01234");
}

TEST(SerialWrite, FlushWithAPeerThatNeverLetsGo_GivesThatUartUpAndStillAsksTheOther) {
  Sim::Board Board;
  Board.PreconfigureUarts();
  Board.Com1().SetModemLines(false, true);
  Board.Processor().ClearTrace();
  EXPECT_EQ(SerialWrite(reinterpret_cast<const UINT8*>("x"), 0), 0u);
  EXPECT_EQ(ReadsOf(Board.Processor().Trace(), 0x3FE), SerialPollLimit);
  EXPECT_EQ(ReadsOf(Board.Processor().Trace(), 0x2FE), 1u);
}

TEST(SerialWrite, UartThatNeverDrains_IsNotAskedForFlowControlAgain) {
  Sim::Board Board;
  Board.PreconfigureUarts();
  Board.Com1().StuckTransmitter = true;
  Board.Processor().ClearTrace();
  EXPECT_EQ(SerialWrite(reinterpret_cast<const UINT8*>("ab"), 2), 2u);
  EXPECT_EQ(Skeleton(Board.Processor().Trace()), "I L3? L2 M2 2a M2 2b ");
}

TEST(SerialWrite, FlushWithAUartThatNeverDrains_AsksOnlyTheOtherForFlowControl) {
  Sim::Board Board;
  Board.PreconfigureUarts();
  Board.Com1().StuckTransmitter = true;
  Board.Processor().ClearTrace();
  EXPECT_EQ(SerialWrite(reinterpret_cast<const UINT8*>("x"), 0), 0u);
  EXPECT_EQ(Skeleton(Board.Processor().Trace()), "L3? L2 M2 ");
  EXPECT_EQ(ReadsOf(Board.Processor().Trace(), 0x3FE), 0u);
}

// A peer whose buffer fills after one FIFO load: the next chunk waits on the
// wire for exactly the pause (give or take a poll), and nothing is lost.
TEST(SerialWrite, PeerPausesAfterAChunk_OutputResumesWithEveryByte) {
  Sim::Board Board;
  Board.PreconfigureUarts();
  constexpr uint64_t PauseNanoseconds = 500000;
  Board.Com1().Pause = Board.Com2().Pause = Sim::Uart16550Model::PeerPause{16, PauseNanoseconds};
  const std::string Text = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
  EXPECT_EQ(SerialWrite(reinterpret_cast<const UINT8*>(Text.data()), Text.size()), Text.size());
  Board.Settle();
  for (Sim::Uart16550Model* Uart : {&Board.Com1(), &Board.Com2()}) {
    const auto& Line = Uart->Line();
    ASSERT_EQ(Uart->Transmitted(), Text);
    const uint64_t Gap = Line[16].Start - Line[15].End;
    EXPECT_GE(Gap, PauseNanoseconds - Board.Processor().AccessNanoseconds);
    EXPECT_LE(Gap, PauseNanoseconds + 10 * Board.Processor().AccessNanoseconds);
    // Within the chunks the FIFO keeps the line busy.
    EXPECT_EQ(Line[15].Start, Line[14].End);
    EXPECT_EQ(Line[17].Start, Line[16].End);
  }
}
