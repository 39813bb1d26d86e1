// Super I/O setup: the two activation reads, and the ten table writes only
// when neither UART device reads exactly 1.
#include <gtest/gtest.h>

#include "BusTrace.h"
#include "Library/SerialPortLib.h"
#include "Board.h"

using namespace SerialTrace;

namespace {
std::vector<BusEvent> ActivationReads(uint8_t Device3, uint8_t Device2) {
  return {Out(0x4E, 0x07), Out(0x4F, 0x03), Out(0x4E, 0x30), In(0x4F, Device3),
          Out(0x4E, 0x07), Out(0x4F, 0x02), Out(0x4E, 0x30), In(0x4F, Device2)};
}

const std::vector<BusEvent> TableWrites = {
    Out(0x4E, 0x07), Out(0x4F, 0x03), Out(0x4E, 0x60), Out(0x4F, 0x03), Out(0x4E, 0x61), Out(0x4F, 0xF8),
    Out(0x4E, 0x70), Out(0x4F, 0x04), Out(0x4E, 0x30), Out(0x4F, 0x01), Out(0x4E, 0x07), Out(0x4F, 0x02),
    Out(0x4E, 0x60), Out(0x4F, 0x02), Out(0x4E, 0x61), Out(0x4F, 0xF8), Out(0x4E, 0x70), Out(0x4F, 0x03),
    Out(0x4E, 0x30), Out(0x4F, 0x01)};
}  // namespace

TEST(SuperIoUartSetup, FreshChip_IsProgrammedAndLeavesDevice2Selected) {
  Sim::Board Board;
  EXPECT_EQ(SuperIoUartSetup(), 10u);
  std::vector<BusEvent> Expected = ActivationReads(0, 0);
  Expected.insert(Expected.end(), TableWrites.begin(), TableWrites.end());
  EXPECT_EQ(Board.Processor().Trace(), Expected) << Listing(Board.Processor().Trace());
  const Sim::SuperIo& Chip = Board.SuperIo();
  EXPECT_TRUE(Chip.Decodes(3, 0x3F8));
  EXPECT_TRUE(Chip.Decodes(2, 0x2F8));
  EXPECT_EQ(Chip.Interrupt(3), 4);
  EXPECT_EQ(Chip.Interrupt(2), 3);
  EXPECT_EQ(Chip.SelectedDevice(), 2);
}

TEST(SuperIoUartSetup, ActivationValues_DecideWhetherTheTableIsWritten) {
  struct Case {
    uint8_t Device3;
    uint8_t Device2;
    bool Written;
  };
  const Case Cases[] = {
      {1, 0, false}, {0, 1, false}, {1, 1, false},  // one active device suffices
      {0, 0, true},  {0x81, 0, true}, {2, 3, true},  // only exactly 1 counts
  };
  for (const Case& Each : Cases) {
    Sim::Board Board;
    Board.SuperIo().SetRegister(3, 0x30, Each.Device3);
    Board.SuperIo().SetRegister(2, 0x30, Each.Device2);
    EXPECT_EQ(SuperIoUartSetup(), Each.Written ? 10u : 0u);
    std::vector<BusEvent> Expected = ActivationReads(Each.Device3, Each.Device2);
    if (Each.Written) {
      Expected.insert(Expected.end(), TableWrites.begin(), TableWrites.end());
    }
    EXPECT_EQ(Board.Processor().Trace(), Expected) << "activation " << +Each.Device3 << ", " << +Each.Device2;
  }
}

TEST(SuperIoUartSetup, AbsentChip_ReadsAllOnesAndGetsTheTableAllTheSame) {
  Sim::Board Board;
  Board.RemoveSuperIo();
  EXPECT_EQ(SuperIoUartSetupStatus(), EFI_SUCCESS);
  std::vector<BusEvent> Expected = ActivationReads(0xFF, 0xFF);
  Expected.insert(Expected.end(), TableWrites.begin(), TableWrites.end());
  EXPECT_EQ(Board.Processor().Trace(), Expected);
}
