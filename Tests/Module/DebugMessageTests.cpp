// Leveled messages and assertion reports on both UARTs.
#include <gtest/gtest.h>

#include <string>

#include "Library/DebugLib.h"
#include "Library/IoLib.h"
#include "Library/SerialPortLib.h"
#include "Board.h"

namespace {
class DebugOutput : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(SerialInit(), EFI_SUCCESS);
    Board.Processor().ClearTrace();
  }
  std::string Sent() {
    Board.Settle();
    EXPECT_EQ(Board.Com1().Transmitted(), Board.Com2().Transmitted());
    return Board.Com1().Transmitted();
  }
  unsigned CmosMaskReads() {
    unsigned Reads = 0;
    for (const Sim::BusEvent& Event : Board.Processor().Trace()) {
      Reads += Event.What == Sim::BusEvent::Kind::PortOut && Event.Address == 0x70 && Event.Value >= 0x7A &&
               Event.Value <= 0x7D;
    }
    return Reads;
  }
  Sim::Board Board;
};
}  // namespace

TEST_F(DebugOutput, LevelMask_IsReadFromCmosForEveryMessage) {
  Board.SetLevelMask(0x80000000);
  DebugMessage(LevelError, "one %d\n", 1);
  Board.SetLevelMask(0x00000000);
  DebugMessage(LevelError, "two %d\n", 2);
  Board.SetLevelMask(0x80000000);
  DebugMessage(LevelError, "three %d\n", 3);
  DebugMessage(0x00000040, "info\n");
  EXPECT_EQ(Sent(), "one 1\r\nthree 3\r\n");
  EXPECT_EQ(CmosMaskReads(), 16u);
}

TEST_F(DebugOutput, LongMessage_IsCutTo255Characters) {
  Board.SetLevelMask(0xFFFFFFFF);
  const std::string Long(300, 'x');
  DebugMessage(LevelError, "%a", Long.c_str());
  EXPECT_EQ(Sent(), Long.substr(0, 255));
}

TEST_F(DebugOutput, Assertion_PrintsWhateverTheMaskSaysAndTraps) {
  Board.SetLevelMask(0);
  ReportAssertion("Library/BaseLib/String.cpp", 1235, "String != ((void *) 0)");
  EXPECT_EQ(Sent(), "ASSERT Library/BaseLib/String.cpp(1235): String != ((void *) 0)\r\n");
  EXPECT_EQ(Board.Processor().Breakpoints(), 1u);
  EXPECT_EQ(CmosMaskReads(), 0u);
}

TEST_F(DebugOutput, NullFormat_IsReportedAndNothingElsePrints) {
  Board.SetLevelMask(0xFFFFFFFF);
  DebugMessage(LevelError, nullptr);
  EXPECT_EQ(Sent(), "ASSERT Library/BaseDebugLibSerialPort/DebugLib.cpp(79): Format != ((void *) 0)\r\n");
  EXPECT_EQ(Board.Processor().Breakpoints(), 1u);
}

TEST_F(DebugOutput, FailedStatusCheck_PrintsTheStatusNameLine) {
  Board.SetLevelMask(0x80000000);
  CheckStatus(EFI_NOT_FOUND, CheckSite{"QelVersionPei/QelVersionPei.cpp", 97, StatusCheckText});
  EXPECT_EQ(Sent(),
            "\r\nASSERT_EFI_ERROR (Status = Not Found)\r\n"
            "ASSERT QelVersionPei/QelVersionPei.cpp(97): !EFI_ERROR (Status)\r\n");
  EXPECT_EQ(Board.Processor().Breakpoints(), 1u);
}

TEST_F(DebugOutput, EveryCheckOfTheModule_ReachesBothUarts) {
  // A misaligned port check of the I/O library, through the real reporter.
  PortIn16(0x3F9);
  EXPECT_EQ(Sent(), "ASSERT Library/BaseIoLibIntrinsic/IoLibMsc.cpp(133): (Port & 1) == 0\r\n");
}
