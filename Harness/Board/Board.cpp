// The standard simulated board and its scenario switches.
#include "Board.h"

#include <algorithm>
#include <limits>

namespace Sim {

Board::Board(const Layout& Wiring) : FirstUart(Cpu, Wiring.Com1), SecondUart(Cpu, Wiring.Com2) {
  if (Wiring.UartsFollowSuperIo) {
    const auto Com1At = static_cast<uint16_t>(Wiring.Com1.Base);
    const auto Com2At = static_cast<uint16_t>(Wiring.Com2.Base);
    FirstUart.Decoding = [this, Com1At] { return SuperIoChip.Decodes(Sim::SuperIo::FirstUartDevice, Com1At); };
    SecondUart.Decoding = [this, Com2At] { return SuperIoChip.Decodes(Sim::SuperIo::SecondUartDevice, Com2At); };
  }
}

Board& Board::SetCmos(uint8_t Index, uint8_t Value) {
  CmosChip.Set(Index, Value);
  return *this;
}

Board& Board::SelectBaud(uint8_t Byte) { return SetCmos(CmosBaudSelection, Byte); }

Board& Board::SetLevelMask(uint32_t Mask) {
  for (uint8_t Index = 0; Index < 4; ++Index) {
    CmosChip.Set(static_cast<uint8_t>(CmosLevelMask + Index), static_cast<uint8_t>(Mask >> (8 * Index)));
  }
  return *this;
}

Board& Board::RemoveSuperIo() {
  SuperIoChip.SetPresent(false);
  return *this;
}

Board& Board::ActivateCom1Device() {
  SuperIoChip.Activate(Sim::SuperIo::FirstUartDevice, Com1Base, 4);
  return *this;
}

Board& Board::ActivateCom2Device() {
  SuperIoChip.Activate(Sim::SuperIo::SecondUartDevice, Com2Base, 3);
  return *this;
}

Board& Board::PreconfigureUarts(uint16_t Divisor, uint8_t LineControl, uint8_t FifoControl) {
  FirstUart.Preset(Divisor, LineControl, FifoControl);
  SecondUart.Preset(Divisor, LineControl, FifoControl);
  return *this;
}

Board& Board::StickTransmitters() {
  FirstUart.StuckTransmitter = SecondUart.StuckTransmitter = true;
  return *this;
}

Board& Board::ReportFifosOff() {
  FirstUart.FifosReportedOff = SecondUart.FifosReportedOff = true;
  return *this;
}

Board& Board::SetModemLines(bool Cts, bool Dsr) {
  FirstUart.SetModemLines(Cts, Dsr);
  SecondUart.SetModemLines(Cts, Dsr);
  return *this;
}

Board& Board::RemoveUarts() {
  FirstUart.Absent = SecondUart.Absent = true;
  return *this;
}

Board& Board::StopTracing() {
  Cpu.Tracing = false;
  return *this;
}

Board& Board::SetWatchdog(uint64_t Polls) {
  Cpu.WatchdogPolls = Polls;
  return *this;
}

void Board::Settle() {
  const uint64_t Idle = std::max(FirstUart.IdleAt(), SecondUart.IdleAt());
  if (Idle != std::numeric_limits<uint64_t>::max() && Idle > Cpu.Now()) {
    Cpu.Elapse(Idle - Cpu.Now());
  }
  FirstUart.CatchUp();
  SecondUart.CatchUp();
}

}  // namespace Sim
