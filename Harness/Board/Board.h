// The standard simulated board with every device of the serial console wired:
// CMOS, the Super I/O, two 16550 UARTs, the diagnostic port and a PCI host bridge.
#pragma once

#include <cstdint>

#include "Cmos.h"
#include "DiagnosticPort.h"
#include "PciHostBridge.h"
#include "Processor.h"
#include "SuperIo.h"
#include "Uart16550Model.h"

namespace Sim {

// Usage:
//   Sim::Board Board;                  // fresh board, UARTs at 0x3F8 and 0x2F8
//   Board.SelectBaud(0x04).StickTransmitters();
//   SerialInit(); SerialWrite(Text, Length);
//   EXPECT_EQ(Board.Com1().Transmitted(), "...");
// Only one Board (or Processor) may exist at a time.
class Board {
public:
  static constexpr uint16_t Com1Base = 0x3F8;
  static constexpr uint16_t Com2Base = 0x2F8;
  static constexpr uint8_t CmosBaudSelection = 0x6F;
  static constexpr uint8_t CmosLevelMask = 0x7A;  // 0x7A..0x7D, least significant byte first

  struct Layout {
    Uart16550Model::Placement Com1{Com1Base};  // where the first UART's registers are
    Uart16550Model::Placement Com2{Com2Base};  // where the second UART's registers are
    // Each UART answers only while its Super I/O logical device (3 for COM1,
    // 2 for COM2) is active at the UART's base, as on real boards.
    bool UartsFollowSuperIo = false;
  };

  Board() : Board(Layout{}) {}
  explicit Board(const Layout& Wiring);
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  Sim::Processor& Processor() { return Cpu; }
  Sim::Cmos& Cmos() { return CmosChip; }
  Sim::SuperIo& SuperIo() { return SuperIoChip; }
  Uart16550Model& Com1() { return FirstUart; }
  Uart16550Model& Com2() { return SecondUart; }
  Sim::DiagnosticPort& Diagnostics() { return Diagnostic; }
  // PCI configuration at 0xCF8/0xCFC; topologies are added by the test.
  Sim::PciHostBridge& Pci() { return PciHost; }

  // Scenario switches; each returns the board so that they chain.
  Board& SetCmos(uint8_t Index, uint8_t Value);  // any CMOS byte
  Board& SelectBaud(uint8_t Byte);  // CMOS 0x6F (bits 1..2: 0 115200, 2 57600, 4 19200, 6 9600)
  Board& SetLevelMask(uint32_t Mask);  // CMOS 0x7A..0x7D, the debug message level mask
  Board& RemoveSuperIo();  // 0x4E/0x4F unclaimed: they read all-ones
  Board& ActivateCom1Device();                    // Super I/O device 3 already active at 0x3F8, IRQ 4
  Board& ActivateCom2Device();                    // Super I/O device 2 already active at 0x2F8, IRQ 3
  // Both UARTs as an earlier boot stage left them (default: 115200 8N1, FIFOs on).
  Board& PreconfigureUarts(uint16_t Divisor = 1, uint8_t LineControl = 0x03, uint8_t FifoControl = 0x01);
  Board& StickTransmitters();  // both LSRs never report empty
  Board& ReportFifosOff();  // both IIRs show the FIFOs off
  Board& SetModemLines(bool Cts, bool Dsr);  // both UARTs' CTS and DSR inputs
  Board& RemoveUarts();  // neither UART is fitted
  Board& StopTracing();  // no access trace (long runs)
  Board& SetWatchdog(uint64_t Polls);  // polling accesses without progress before BoardStall (0: never)

  // Lets board time pass until both transmitters are empty, so that Line()
  // holds every frame (a stuck transmitter is left as it is).
  void Settle();

private:
  Sim::Processor Cpu;
  Sim::Cmos CmosChip{Cpu};
  Sim::SuperIo SuperIoChip{Cpu};
  Sim::DiagnosticPort Diagnostic{Cpu};
  Sim::PciHostBridge PciHost{Cpu};
  Uart16550Model FirstUart;
  Uart16550Model SecondUart;
};

}  // namespace Sim
