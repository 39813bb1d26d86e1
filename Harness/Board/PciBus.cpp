// A PCI bus: functions by device and function number.
#include "PciBus.h"

#include <stdexcept>

namespace Sim {

PciBus::PciBus() = default;
PciBus::~PciBus() = default;

void PciBus::Place(uint8_t Device, uint8_t Function, std::unique_ptr<PciFunction> Made) {
  if (Device > 31 || Function > 7) {
    throw std::invalid_argument("a PCI bus has devices 0..31 with functions 0..7");
  }
  if (Find(Device, Function) != nullptr) {
    throw std::invalid_argument("that device and function are taken");
  }
  Functions.push_back({Device, Function, std::move(Made)});
}

PciFunction* PciBus::Find(uint8_t Device, uint8_t Function) const {
  for (const Slot& Each : Functions) {
    if (Each.Device == Device && Each.Function == Function) {
      return Each.Owned.get();
    }
  }
  return nullptr;
}

}  // namespace Sim
