// The whole module through ModuleEntry on the standard board.
#include <gtest/gtest.h>

#include "ModuleBoard.h"

namespace {
constexpr uint32_t ErrorLevelOnly = 0x80000000;
}  // namespace

TEST(ModuleBoot, FreshBoard_ProgramsTheConsoleAndPublishesSilently) {
  ModuleBoard Run;
  ASSERT_EQ(Run.Boot(), EFI_SUCCESS);
  ASSERT_NE(Run.Record(), nullptr);
  EXPECT_STREQ(Run.Record()->Signature, "TORVA!V9");
  EXPECT_STREQ(Run.Record()->VersionString, "OlvendPI-QX4 1.0.0.P");
  EXPECT_EQ(Run.Transcript(), "");
  EXPECT_EQ(Run.Board.Processor().Breakpoints(), 0u);
  // The constructor ran first: both UARTs are up at 115200 8N1 with FIFOs.
  for (Sim::Uart16550Model* Uart : {&Run.Board.Com1(), &Run.Board.Com2()}) {
    EXPECT_EQ(Uart->Divisor(), 1);
    EXPECT_EQ(Uart->Lcr(), 0x03);
    EXPECT_TRUE(Uart->FifosEnabled());
  }
  EXPECT_TRUE(Run.Board.SuperIo().Active(Sim::SuperIo::FirstUartDevice));
  EXPECT_TRUE(Run.Board.SuperIo().Active(Sim::SuperIo::SecondUartDevice));
}

TEST(ModuleBoot, FailedAllocation_PrintsStatusAndAssertionOnBothUartsThenTraps) {
  struct Case {
    unsigned Nth;
    EFI_STATUS Status;
    std::string Report;
  };
  const Case Cases[] = {
      {1, EFI_OUT_OF_RESOURCES, AllocationReport97},
      {2, EFI_NOT_FOUND,
       "\r\nASSERT_EFI_ERROR (Status = Not Found)\r\n"
       "ASSERT QelVersionPei/QelVersionPei.cpp(109): !EFI_ERROR (Status)\r\n"},
  };
  for (const Case& C : Cases) {
    ModuleBoard Run;
    Run.Board.SetLevelMask(ErrorLevelOnly);
    Run.Foundation.FailAllocation(C.Nth, C.Status);
    EXPECT_EQ(Run.Boot(), C.Status);
    EXPECT_EQ(Run.Transcript(), C.Report);
    EXPECT_EQ(Run.Board.Processor().Breakpoints(), 1u);
    EXPECT_EQ(Run.Record(), nullptr);
  }
}

TEST(ModuleBoot, LevelMaskWithoutErrorBit_LeavesOnlyTheAssertionLine) {
  for (uint32_t Mask : {0x00000000u, 0x7FFFFFFFu}) {
    ModuleBoard Run;
    Run.Board.SetLevelMask(Mask);
    Run.Foundation.FailAllocation(1, EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(Run.Boot(), EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(Run.Transcript(), "ASSERT QelVersionPei/QelVersionPei.cpp(97): !EFI_ERROR (Status)\r\n");
  }
}

TEST(ModuleBoot, InstallFailure_IsReturnedUnchangedWithoutAReport) {
  ModuleBoard Run;
  Run.Board.SetLevelMask(0xFFFFFFFF);
  Run.Foundation.FailInstallPpi(EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Run.Boot(), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Run.Transcript(), "");
  EXPECT_EQ(Run.Board.Processor().Breakpoints(), 0u);
}

TEST(ModuleBoot, ConfiguredBoard_IsNotReprogrammed) {
  ModuleBoard Run;
  Run.Board.ActivateCom1Device().ActivateCom2Device().PreconfigureUarts();
  ASSERT_EQ(Run.Boot(), EFI_SUCCESS);
  for (const Sim::BusEvent& Event : Run.Board.Processor().Trace()) {
    if (Event.What == Sim::BusEvent::Kind::PortOut) {
      // Only the Super I/O probes and the LCR probe writes of each UART.
      EXPECT_TRUE(Event.Address == 0x4E || Event.Address == 0x4F || Event.Address == 0x3FB || Event.Address == 0x2FB ||
                  Event.Address == 0x70)
          << Sim::Describe(Event);
    }
  }
}

// Mended: a UART that never drained stalled the boot in the constructor.
// Under the board's own watchdog the boot now ends, and a report reaches the
// UART that still works.
TEST(ModuleBoot, UartsThatNeverDrain_DoNotStopTheBootOrTheOtherLine) {
  {
    ModuleBoard Run;
    Run.Board.StickTransmitters().StopTracing();
    EXPECT_EQ(Run.Boot(), EFI_SUCCESS);
    EXPECT_NE(Run.Record(), nullptr);
  }
  {
    ModuleBoard Run;
    Run.Board.SetLevelMask(ErrorLevelOnly).StopTracing();
    Run.Board.Com2().StuckTransmitter = true;
    Run.Foundation.FailAllocation(1, EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(Run.Boot(), EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(Run.Board.Com1().Transmitted(), AllocationReport97);
    EXPECT_EQ(Run.Board.Com2().Transmitted(), "");
    EXPECT_EQ(Run.Board.Processor().Breakpoints(), 1u);
  }
}
