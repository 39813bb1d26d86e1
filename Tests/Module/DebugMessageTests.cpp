// Leveled messages and assertion reports on both UARTs.
#include <gtest/gtest.h>

#include <string>

#include "Library/DebugLib.h"
#include "Library/IoLib.h"
#include "Library/SerialPortLib.h"
#include "Machine.h"

namespace {
class DebugOutput : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(SerialInit(), EFI_SUCCESS);
    Machine.Board().ClearTrace();
  }
  std::string Sent() {
    Machine.Settle();
    EXPECT_EQ(Machine.Com1().Transmitted(), Machine.Com2().Transmitted());
    return Machine.Com1().Transmitted();
  }
  unsigned CmosMaskReads() {
    unsigned Reads = 0;
    for (const Sim::BusEvent& Event : Machine.Board().Trace()) {
      Reads += Event.What == Sim::BusEvent::Kind::PortOut && Event.Address == 0x70 && Event.Value >= 0x7A &&
               Event.Value <= 0x7D;
    }
    return Reads;
  }
  Sim::Machine Machine;
};
}  // namespace

TEST_F(DebugOutput, LevelMask_IsReadFromCmosForEveryMessage) {
  Machine.SetLevelMask(0x80000000);
  DebugMessage(LevelError, "one %d\n", 1);
  Machine.SetLevelMask(0x00000000);
  DebugMessage(LevelError, "two %d\n", 2);
  Machine.SetLevelMask(0x80000000);
  DebugMessage(LevelError, "three %d\n", 3);
  DebugMessage(0x00000040, "info\n");
  EXPECT_EQ(Sent(), "one 1\r\nthree 3\r\n");
  EXPECT_EQ(CmosMaskReads(), 16u);
}

TEST_F(DebugOutput, LongMessage_IsCutTo255Characters) {
  Machine.SetLevelMask(0xFFFFFFFF);
  const std::string Long(300, 'x');
  DebugMessage(LevelError, "%a", Long.c_str());
  EXPECT_EQ(Sent(), Long.substr(0, 255));
}

TEST_F(DebugOutput, Assertion_PrintsWhateverTheMaskSaysAndTraps) {
  Machine.SetLevelMask(0);
  ReportAssertion("Library/BaseLib/String.cpp", 1235, "String != ((void *) 0)");
  EXPECT_EQ(Sent(), "ASSERT Library/BaseLib/String.cpp(1235): String != ((void *) 0)\r\n");
  EXPECT_EQ(Machine.Board().Breakpoints(), 1u);
  EXPECT_EQ(CmosMaskReads(), 0u);
}

TEST_F(DebugOutput, NullFormat_IsReportedAndNothingElsePrints) {
  Machine.SetLevelMask(0xFFFFFFFF);
  DebugMessage(LevelError, nullptr);
  EXPECT_EQ(Sent(), "ASSERT Library/BaseDebugLibSerialPort/DebugLib.cpp(79): Format != ((void *) 0)\r\n");
  EXPECT_EQ(Machine.Board().Breakpoints(), 1u);
}

TEST_F(DebugOutput, FailedStatusCheck_PrintsTheStatusNameLine) {
  Machine.SetLevelMask(0x80000000);
  CheckStatus(EFI_NOT_FOUND, "QelVersionPei/QelVersionPei.cpp", 97);
  EXPECT_EQ(Sent(),
            "\r\nASSERT_EFI_ERROR (Status = Not Found)\r\n"
            "ASSERT QelVersionPei/QelVersionPei.cpp(97): !EFI_ERROR (Status)\r\n");
  EXPECT_EQ(Machine.Board().Breakpoints(), 1u);
}

TEST_F(DebugOutput, EveryCheckOfTheModule_ReachesBothUarts) {
  // A misaligned port check of the I/O library, through the real reporter.
  PortIn16(0x3F9);
  EXPECT_EQ(Sent(), "ASSERT Library/BaseIoLibIntrinsic/IoLibMsc.cpp(133): (Port & 1) == 0\r\n");
}
