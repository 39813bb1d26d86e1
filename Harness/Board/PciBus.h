// The functions on one PCI bus, by device and function number; the bus owns them.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "PciFunction.h"

namespace Sim {

class PciBus {
public:
  PciBus();
  ~PciBus();
  PciBus(const PciBus&) = delete;
  PciBus& operator=(const PciBus&) = delete;

  template <class FunctionType, class... Arguments>
  FunctionType& Add(uint8_t Device, uint8_t Function, Arguments&&... Args) {
    auto Made = std::make_unique<FunctionType>(std::forward<Arguments>(Args)...);
    FunctionType& Added = *Made;
    Place(Device, Function, std::move(Made));
    return Added;
  }

  // Null when no function answers there (a configuration read then ends in
  // master abort and reads all ones).
  PciFunction* Find(uint8_t Device, uint8_t Function) const;

  struct Slot {
    uint8_t Device;
    uint8_t Function;
    std::unique_ptr<PciFunction> Owned;
  };
  const std::vector<Slot>& Slots() const { return Functions; }

private:
  void Place(uint8_t Device, uint8_t Function, std::unique_ptr<PciFunction> Made);
  std::vector<Slot> Functions;
};

}  // namespace Sim
