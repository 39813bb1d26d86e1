// SerialInit: the probe of each UART, the CMOS baud selection and the
// reprogramming sequence, made only when a UART is not already set up.
#include <gtest/gtest.h>

#include <string>

#include "BusTrace.h"
#include "Library/IoLib.h"
#include "Library/SerialPortLib.h"
#include "Board.h"

using namespace SerialTrace;

namespace {
constexpr uint8_t FifosOnIdentity = 0xC1, FifosOffIdentity = 0x01;  // IIR, no interrupt pending

// The probe of a UART at Base: LCR and the divisor latch, then the CMOS baud
// selection, in the order the sequence fixes.
std::vector<BusEvent> Probe(uint32_t Base, uint8_t LineControl, uint16_t Divisor, uint8_t Cmos) {
  return {In(Base + 3, LineControl),
          In(Base + 3, LineControl),
          Out(Base + 3, LineControl | 0x80),
          In(Base + 1, Divisor >> 8),
          In(Base + 0, Divisor & 0xFF),
          In(Base + 3, LineControl | 0x80),
          Out(Base + 3, LineControl & 0x7F),
          Out(0x70, 0x6F),
          In(0x71, Cmos)};
}

// The same for a UART whose settings already match, which is the only case
// in which the FIFO status decides anything.
std::vector<BusEvent> MatchingProbe(uint32_t Base, uint8_t LineControl, uint16_t Divisor, uint8_t Cmos,
                                    uint8_t Identity) {
  std::vector<BusEvent> Events = Probe(Base, LineControl, Divisor, Cmos);
  Events.push_back(In(Base + 2, Identity));
  return Events;
}

std::vector<BusEvent> Reprogramming(uint32_t Base, uint16_t Divisor) {
  return {In(Base + 5, 0x60),           Out(Base + 3, 0x80), Out(Base + 1, Divisor >> 8),
          Out(Base + 0, Divisor & 0xFF), Out(Base + 3, 0x03), Out(Base + 2, 0x00),
          Out(Base + 2, 0x01),           Out(Base + 4, 0x00)};
}

void Append(std::vector<BusEvent>& To, const std::vector<BusEvent>& More) { To.insert(To.end(), More.begin(), More.end()); }

UINTN Write(const std::string& Text) {
  return SerialWrite(reinterpret_cast<const UINT8*>(Text.data()), static_cast<UINTN>(Text.size()));
}
}  // namespace

TEST(SerialInit, FreshBoard_ProbesAndReprogramsBothUartsInOrder) {
  Sim::Board Board;
  EXPECT_EQ(SerialInit(), EFI_SUCCESS);
  const auto Uarts = Touching(Board.Processor().Trace(), 0x70, 0x3FF);  // all but the Super I/O
  std::vector<BusEvent> Expected;
  for (uint32_t Base : {0x3F8u, 0x2F8u}) {
    Append(Expected, Probe(Base, 0x00, 12, 0x00));  // no IIR read: the settings differ anyway
    Append(Expected, Reprogramming(Base, 1));
  }
  EXPECT_EQ(Uarts, Expected) << Listing(Uarts);
}

TEST(SerialInit, CmosBits1To2_SelectTheDivisorAndOtherBitsAreIgnored) {
  struct Case {
    uint8_t Cmos;
    uint16_t Divisor;
  };
  const Case Cases[] = {{0x00, 1}, {0x02, 2}, {0x04, 6}, {0x06, 12}, {0xF9, 1}, {0x0B, 2}, {0x85, 6}, {0xFF, 12}};
  for (const Case& Each : Cases) {
    Sim::Board Board;
    Board.SelectBaud(Each.Cmos);
    ASSERT_EQ(SerialInit(), EFI_SUCCESS);
    for (Sim::Uart16550Model* Uart : {&Board.Com1(), &Board.Com2()}) {
      EXPECT_EQ(Uart->Divisor(), Each.Divisor) << "CMOS 0x" << std::hex << +Each.Cmos;
      EXPECT_EQ(Uart->Lcr(), 0x03);
      EXPECT_EQ(Uart->LastFcr(), 0x01);
      EXPECT_EQ(Uart->Mcr(), 0x00);  // DTR and RTS off
    }
  }
}

TEST(SerialInit, UartAlreadySetUp_GetsOnlyTheTwoProbeWritesOfLcr) {
  Sim::Board Board;
  Board.SelectBaud(0x04).PreconfigureUarts(6, 0x03, 0x01).ActivateCom1Device();
  EXPECT_EQ(SerialInit(), EFI_SUCCESS);
  const auto& Trace = Board.Processor().Trace();
  EXPECT_EQ(Writes(Touching(Trace, 0x3F8, 0x3FF)), (std::vector<BusEvent>{Out(0x3FB, 0x83), Out(0x3FB, 0x03)}));
  EXPECT_EQ(Writes(Touching(Trace, 0x2F8, 0x2FF)), (std::vector<BusEvent>{Out(0x2FB, 0x83), Out(0x2FB, 0x03)}));
  EXPECT_EQ(Touching(Trace, 0x3F8, 0x3FF), Touching(MatchingProbe(0x3F8, 0x03, 6, 0x04, FifosOnIdentity), 0x3F8, 0x3FF));
}

// The FIFO status decides only for a UART whose settings match, so a UART
// that is reprogrammed anyway has its IIR left unread (reading it would also
// clear a pending transmitter-empty identification).
TEST(SerialInit, SettingsDiffer_IirIsNotRead) {
  struct Case {
    uint16_t Divisor;
    uint8_t LineControl;
  };
  for (const Case& Each : {Case{12, 0x00}, Case{12, 0x03}, Case{1, 0x07}}) {
    Sim::Board Board;
    Board.PreconfigureUarts(Each.Divisor, Each.LineControl, 0x01);
    EXPECT_EQ(SerialInit(), EFI_SUCCESS);
    EXPECT_EQ(ReadsOf(Board.Processor().Trace(), 0x3FA), 0u) << "divisor " << Each.Divisor;
    EXPECT_EQ(ReadsOf(Board.Processor().Trace(), 0x2FA), 0u) << "divisor " << Each.Divisor;
    EXPECT_EQ(Board.Com1().Divisor(), 1);
  }
}

TEST(SerialInit, OnlyTheDivisorDiffers_Reprograms) {
  Sim::Board Board;
  Board.PreconfigureUarts(12, 0x03, 0x01);
  EXPECT_EQ(SerialInit(), EFI_SUCCESS);
  EXPECT_EQ(Board.Com1().Divisor(), 1);
  EXPECT_EQ(Board.Com2().Divisor(), 1);
}

TEST(SerialInit, LineFormatDiffersOnlyAboveBit5_IsLeftAlone) {
  Sim::Board Board;
  Board.PreconfigureUarts(1, 0x43, 0x01);  // break set; bits 0..5 match
  EXPECT_EQ(SerialInit(), EFI_SUCCESS);
  EXPECT_EQ(Board.Com1().Lcr(), 0x43);
}

// Mended: matching settings with the FIFOs off would leave every later
// SerialWrite stopped at the FIFO test, with all output lost.
TEST(SerialInit, MatchingSettingsButFifosOff_IsReprogrammedAndOutputFlows) {
  Sim::Board Board;
  Board.PreconfigureUarts(1, 0x03, 0x00);
  EXPECT_EQ(SerialInit(), EFI_SUCCESS);
  std::vector<BusEvent> Expected;
  for (uint32_t Base : {0x3F8u, 0x2F8u}) {
    Append(Expected, MatchingProbe(Base, 0x03, 1, 0x00, FifosOffIdentity));
    Append(Expected, Reprogramming(Base, 1));
  }
  EXPECT_EQ(Touching(Board.Processor().Trace(), 0x70, 0x3FF), Expected);
  EXPECT_TRUE(Board.Com1().FifosEnabled());
  EXPECT_TRUE(Board.Com2().FifosEnabled());
  EXPECT_EQ(Write("still here\n"), 11u);
  EXPECT_EQ(Board.Com1().Transmitted(), "still here\n");
}

TEST(SerialInit, SecondCall_LosesNoCharacterInFlight) {
  Sim::Board Board;
  ASSERT_EQ(SerialInit(), EFI_SUCCESS);
  const std::string Text(40, '#');
  ASSERT_EQ(Write(Text), 40u);
  Board.Processor().ClearTrace();
  EXPECT_EQ(SerialInit(), EFI_SUCCESS);
  EXPECT_EQ(Writes(Touching(Board.Processor().Trace(), 0x3F8, 0x3FF)).size(), 2u);
  Board.Settle();
  EXPECT_EQ(Board.Com1().Transmitted(), Text);
  EXPECT_EQ(Board.Com1().FlushedBytes(), 0u);
}

TEST(SerialInit, Reprogramming_WaitsUntilAnEarlierStagesCharactersHaveLeft) {
  Sim::Board Board;
  Board.PreconfigureUarts(12, 0x03, 0x01);
  for (char Byte : std::string("boot")) {
    PortOut8(0x3F8, static_cast<UINT8>(Byte));
  }
  EXPECT_EQ(SerialInit(), EFI_SUCCESS);
  const auto& Line = Board.Com1().Line();
  ASSERT_EQ(Board.Com1().Transmitted(), "boot");
  EXPECT_EQ(Board.Com1().FlushedBytes(), 0u);
  for (const Sim::UartFrame& Frame : Line) {
    EXPECT_EQ(Frame.Divisor, 12);
    EXPECT_FALSE(Frame.Disturbed);
  }
  EXPECT_EQ(Board.Com1().Divisor(), 1);
}

TEST(SerialInit, UartsBehindTheSuperIo_AnswerOnlyOnceItIsSetUp) {
  Sim::Board Board({.UartsFollowSuperIo = true});
  EXPECT_EQ(SerialInit(), EFI_SUCCESS);
  EXPECT_EQ(Board.Com1().Divisor(), 1);
  EXPECT_EQ(Board.Com2().Lcr(), 0x03);
}

TEST(SerialInit, SuperIoAbsentAndUartsBehindIt_ProgramsNothing) {
  Sim::Board Board({.UartsFollowSuperIo = true});
  Board.RemoveSuperIo();
  EXPECT_EQ(SerialInit(), EFI_SUCCESS);  // the probe reads all-ones, which is not a failure here
  EXPECT_EQ(Board.Com1().Lcr(), 0x00);
  EXPECT_EQ(Write("lost"), 4u);
  EXPECT_EQ(Board.Com1().Transmitted(), "");
}

// Mended: the wait before reprogramming had no time limit, so a UART that
// never drained stopped the boot here.
TEST(SerialInit, UartThatNeverDrains_IsLeftUnprogrammedAfterTheBoundAndTheOtherIsSetUp) {
  struct Case {
    bool Com1Stuck;
    bool Com2Stuck;
  };
  for (const Case& Each : {Case{true, false}, Case{false, true}, Case{true, true}}) {
    Sim::Board Board;  // the board's own watchdog: the waits must end before it
    Board.Com1().StuckTransmitter = Each.Com1Stuck;
    Board.Com2().StuckTransmitter = Each.Com2Stuck;
    EXPECT_EQ(SerialInit(), EFI_SUCCESS);
    const auto& Trace = Board.Processor().Trace();
    for (const auto& [Base, Stuck] : {std::pair{0x3F8u, Each.Com1Stuck}, std::pair{0x2F8u, Each.Com2Stuck}}) {
      const auto Uart = Touching(Trace, Base, Base + 7);
      if (Stuck) {
        EXPECT_EQ(ReadsOf(Uart, Base + 5), SerialPollLimit);
        EXPECT_EQ(Writes(Uart), (std::vector<BusEvent>{Out(Base + 3, 0x80), Out(Base + 3, 0x00)}))
            << "only the probe's LCR writes";
      } else {
        EXPECT_EQ(Writes(Uart).size(), 2u + 7u) << "the probe, then the reprogramming";
      }
    }
    EXPECT_EQ(Board.Com2().Divisor(), Each.Com2Stuck ? 12 : 1);
    EXPECT_EQ(Board.Com1().FifosEnabled(), !Each.Com1Stuck);
  }
}

// The bound must outlast the slowest drain there is: the 64-byte FIFO full
// and a character shifting out at 9600 baud in 12-bit frames (8 data bits,
// parity, 2 stop bits), about 81 ms or 81,000 polls of this board.
TEST(SerialInit, DeepestFifoAtTheSlowestBaud_IsWaitedOutBeforeReprogramming) {
  Sim::Board Board;
  Board.Com1().Preset(12, 0x0F, 0x21);
  for (int Byte = 0; Byte < 65; ++Byte) {
    PortOut8(0x3F8, static_cast<UINT8>('A' + Byte % 26));
  }
  ASSERT_EQ(Board.Com1().TransmitQueued(), 64u);
  EXPECT_EQ(SerialInit(), EFI_SUCCESS);
  EXPECT_GT(ReadsOf(Board.Processor().Trace(), 0x3FD), 65u * 12 * 100);  // a wait of many frames...
  EXPECT_EQ(Board.Com1().Divisor(), 1);                                // ...that ended in time
  ASSERT_EQ(Board.Com1().Line().size(), 65u);
  for (const Sim::UartFrame& Frame : Board.Com1().Line()) {
    EXPECT_EQ(Frame.Divisor, 12);
    EXPECT_FALSE(Frame.Disturbed);
  }
  EXPECT_EQ(Board.Com1().FlushedBytes(), 0u);
}
