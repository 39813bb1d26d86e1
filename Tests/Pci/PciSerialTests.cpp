// The serial console over a PCI UART: nothing goes out when the way to the
// UART cannot be opened, and text reaches it when it can.
#include <gtest/gtest.h>

#include <string>

#include "Library/SerialPortLib.h"
#include "ListedTopology.h"
#include "Board.h"
#include "RecordingDebugLib.h"

namespace {
const std::string Text = "PCI UART\n";

bool TouchesUart(const Sim::BusEvent& Event) {
  const bool Port = Event.What == Sim::BusEvent::Kind::PortIn || Event.What == Sim::BusEvent::Kind::PortOut;
  const bool Memory = Event.What == Sim::BusEvent::Kind::MemoryRead || Event.What == Sim::BusEvent::Kind::MemoryWrite;
  return (Port && ((Event.Address >= 0x3F8 && Event.Address <= 0x3FF) || (Event.Address >= 0x2F8 && Event.Address <= 0x2FF))) ||
         (Memory && Event.Address >= Listed::UartBase && Event.Address < Listed::UartBase + 0x1000);
}

UINTN Send(const std::string& Bytes) { return SerialWrite(reinterpret_cast<const UINT8*>(Bytes.data()), Bytes.size()); }
}  // namespace

TEST(PciSerial, UsableWay_TextReachesTheUart) {
  Recorded::Clear();
  Sim::Board Board;
  Listed::Topology Way(Board.Pci(), Board.Com1(), Sim::Board::Com1Base);
  EXPECT_EQ(SerialInit(), EFI_SUCCESS);
  EXPECT_EQ(Send(Text), Text.size());
  Board.Settle();
  EXPECT_EQ(Board.Com1().Transmitted(), Text);
  EXPECT_TRUE(Way.Uart->Placed());
}

TEST(PciSerial, UnusableWay_InitFailsAndNothingIsSent) {
  Recorded::Clear();
  Sim::Board Board;
  Listed::Topology Way(Board.Pci(), Board.Com1(), Sim::Board::Com1Base);
  // A bridge without a secondary bus, or a UART without a BAR of the build's kind.
  if constexpr (Listed::Bridges > 0) {
    Way.Bridge[0]->Set8(0x19, 0);
  } else {
    for (uint16_t Register = 0x10; Register <= 0x24; Register += 4) {
      Way.Uart->Set32(Register, Listed::UseMmio ? 0x1 : 0x0);
    }
  }
  Board.Processor().ClearTrace();
  EXPECT_EQ(SerialInit(), EFI_DEVICE_ERROR);
  EXPECT_EQ(Send(Text), 0u);
  Board.Settle();
  EXPECT_EQ(Board.Com1().Transmitted(), "");
  EXPECT_EQ(Board.Com2().Transmitted(), "");
  for (const Sim::BusEvent& Event : Board.Processor().Trace()) {
    EXPECT_FALSE(TouchesUart(Event)) << Sim::Describe(Event);
  }
}

// Each chunk looks the UART up again; once the way is gone, the bytes already
// on the wire are what the call reports, and nothing more goes to the UART.
TEST(PciSerial, WayClosedAfterTheFirstChunk_StopsAndCountsTheChunkSent) {
  Recorded::Clear();
  Sim::Board Board;
  Listed::Topology Way(Board.Pci(), Board.Com1(), Sim::Board::Com1Base);
  ASSERT_EQ(SerialInit(), EFI_SUCCESS);
  const std::string Long = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
  unsigned Accepted = 0;
  Board.Com1().OnTransmitWrite = [&](uint8_t) {
    if (++Accepted != 16) {
      return;
    }
    if constexpr (Listed::Bridges > 0) {
      Way.Bridge[0]->Set8(0x19, 0);
    } else {
      for (uint16_t Register = 0x10; Register <= 0x24; Register += 4) {
        Way.Uart->Set32(Register, Listed::UseMmio ? 0x1 : 0x0);
      }
    }
  };
  EXPECT_EQ(Send(Long), 16u);
  Board.Settle();
  EXPECT_EQ(Board.Com1().Transmitted(), Long.substr(0, 16));
  EXPECT_EQ(Accepted, 16u);
}
