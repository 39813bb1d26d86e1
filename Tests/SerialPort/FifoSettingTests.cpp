// Builds with other FIFO settings: FIFOs off (chunks of one byte) and the
// 64-byte FIFO (chunks of UartExtendedTxFifoSize). Built once per variant.
#include <gtest/gtest.h>

#include <string>

#include "BuildSettings.h"
#include "BusTrace.h"
#include "Library/SerialPortLib.h"
#include "Board.h"

using namespace SerialTrace;

namespace {
constexpr bool FifosOn = (Settings::UartFifoControl & 0x01) != 0;
constexpr size_t Chunk = !FifosOn ? 1 : ((Settings::UartFifoControl & 0x20) != 0 ? Settings::UartExtendedTxFifoSize : 16);
constexpr uint8_t WrittenFcr = Settings::UartFifoControl & 0x21;

std::string Pattern(size_t Length) {
  std::string Text;
  for (size_t At = 0; At < Length; ++At) {
    Text += static_cast<char>('!' + At % 90);
  }
  return Text;
}
}  // namespace

TEST(FifoSetting, SerialInit_WritesFcrZeroThenTheMaskedSetting) {
  Sim::Board Board;
  ASSERT_EQ(SerialInit(), EFI_SUCCESS);
  std::vector<BusEvent> FcrWrites;
  for (const BusEvent& Event : Writes(Touching(Board.Processor().Trace(), 0x3FA, 0x3FA))) {
    FcrWrites.push_back(Event);
  }
  EXPECT_EQ(FcrWrites, (std::vector<BusEvent>{Out(0x3FA, 0x00), Out(0x3FA, WrittenFcr)}));
  EXPECT_EQ(Board.Com1().FifosEnabled(), FifosOn);
  EXPECT_EQ(Board.Com1().LargeFifo(), (WrittenFcr & 0x20) != 0);
}

// Mended: with the FIFOs off the FIFO test would stop every write; such a
// build skips it, in SerialWrite and in the already-initialised test.
TEST(FifoSetting, SerialWrite_SendsInChunksOfTheFifoSizeWithoutOverrun) {
  Sim::Board Board;
  ASSERT_EQ(SerialInit(), EFI_SUCCESS);
  EXPECT_EQ(Touching(Board.Processor().Trace(), 0x3FA, 0x3FA).size(), 2u);  // a fresh board: FCR twice, no IIR read
  Board.Processor().ClearTrace();
  const std::string Text = Pattern(150);
  EXPECT_EQ(SerialWrite(reinterpret_cast<const UINT8*>(Text.data()), Text.size()), Text.size());
  EXPECT_EQ(Skeleton(Board.Processor().Trace()), ExpectedChunks(Text, Chunk, FifosOn));
  for (Sim::Uart16550Model* Uart : {&Board.Com1(), &Board.Com2()}) {
    EXPECT_EQ(Uart->Transmitted(), Text);
    EXPECT_EQ(Uart->Overruns(), 0u);
  }
}

TEST(FifoSetting, SecondSerialInit_LeavesTheUartAlone) {
  Sim::Board Board;
  ASSERT_EQ(SerialInit(), EFI_SUCCESS);
  Board.Processor().ClearTrace();
  ASSERT_EQ(SerialInit(), EFI_SUCCESS);
  EXPECT_EQ(Writes(Touching(Board.Processor().Trace(), 0x3F8, 0x3FF)),
            (std::vector<BusEvent>{Out(0x3FB, 0x83), Out(0x3FB, 0x03)}));
}
