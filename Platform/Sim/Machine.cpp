// The standard simulated board and its scenario switches.
#include "Machine.h"

#include <algorithm>
#include <limits>

namespace Sim {

Machine::Machine(const Layout& Wiring) : FirstUart(Bus, Wiring.Com1), SecondUart(Bus, Wiring.Com2) {
  if (Wiring.UartsFollowSuperIo) {
    const auto Com1At = static_cast<uint16_t>(Wiring.Com1.Base);
    const auto Com2At = static_cast<uint16_t>(Wiring.Com2.Base);
    FirstUart.Decoding = [this, Com1At] { return SuperIoChip.Decodes(Sim::SuperIo::FirstUartDevice, Com1At); };
    SecondUart.Decoding = [this, Com2At] { return SuperIoChip.Decodes(Sim::SuperIo::SecondUartDevice, Com2At); };
  }
}

Machine& Machine::SetCmos(uint8_t Index, uint8_t Value) {
  CmosChip.Set(Index, Value);
  return *this;
}

Machine& Machine::SelectBaud(uint8_t Byte) { return SetCmos(CmosBaudSelection, Byte); }

Machine& Machine::SetLevelMask(uint32_t Mask) {
  for (uint8_t Index = 0; Index < 4; ++Index) {
    CmosChip.Set(static_cast<uint8_t>(CmosLevelMask + Index), static_cast<uint8_t>(Mask >> (8 * Index)));
  }
  return *this;
}

Machine& Machine::RemoveSuperIo() {
  SuperIoChip.SetPresent(false);
  return *this;
}

Machine& Machine::ActivateCom1Device() {
  SuperIoChip.Activate(Sim::SuperIo::FirstUartDevice, Com1Base, 4);
  return *this;
}

Machine& Machine::ActivateCom2Device() {
  SuperIoChip.Activate(Sim::SuperIo::SecondUartDevice, Com2Base, 3);
  return *this;
}

Machine& Machine::PreconfigureUarts(uint16_t Divisor, uint8_t LineControl, uint8_t FifoControl) {
  FirstUart.Preset(Divisor, LineControl, FifoControl);
  SecondUart.Preset(Divisor, LineControl, FifoControl);
  return *this;
}

Machine& Machine::StickTransmitters() {
  FirstUart.StuckTransmitter = SecondUart.StuckTransmitter = true;
  return *this;
}

Machine& Machine::ReportFifosOff() {
  FirstUart.FifosReportedOff = SecondUart.FifosReportedOff = true;
  return *this;
}

Machine& Machine::SetModemLines(bool Cts, bool Dsr) {
  FirstUart.SetModemLines(Cts, Dsr);
  SecondUart.SetModemLines(Cts, Dsr);
  return *this;
}

Machine& Machine::RemoveUarts() {
  FirstUart.Absent = SecondUart.Absent = true;
  return *this;
}

Machine& Machine::StopTracing() {
  Bus.Tracing = false;
  return *this;
}

Machine& Machine::SetWatchdog(uint64_t Polls) {
  Bus.WatchdogPolls = Polls;
  return *this;
}

void Machine::Settle() {
  const uint64_t Idle = std::max(FirstUart.IdleAt(), SecondUart.IdleAt());
  if (Idle != std::numeric_limits<uint64_t>::max() && Idle > Bus.Now()) {
    Bus.Elapse(Idle - Bus.Now());
  }
  FirstUart.CatchUp();
  SecondUart.CatchUp();
}

}  // namespace Sim
