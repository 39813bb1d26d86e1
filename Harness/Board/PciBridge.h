// A PCI-to-PCI bridge: bus numbers, I/O and memory windows, the command
// register's forwarding enables, and the bus behind it.
#pragma once

#include <cstdint>

#include "PciBus.h"
#include "PciFunction.h"

namespace Sim {

class PciBridge : public PciFunction {
public:
  struct Options {
    bool Io32 = false;                // 32-bit I/O decoding (0x30/0x32 implemented)
    uint8_t PowerManagementAt = 0;    // capability offset, 0 for none
  };
  PciBridge();
  explicit PciBridge(Options With);

  PciBus& Secondary() { return Behind; }
  const PciBus& Secondary() const { return Behind; }

  uint8_t SecondaryBusNumber() const { return Read8(PciConfig::SecondaryBus); }
  uint8_t SubordinateBusNumber() const { return Read8(PciConfig::SubordinateBus); }

  // Set-up as firmware or an earlier stage would leave it.
  void SetBusNumbers(uint8_t Primary, uint8_t SecondaryNumber, uint8_t Subordinate);
  void SetIoWindow(uint32_t First, uint32_t Last);        // 4 KB granules
  void SetMemoryWindow(uint32_t First, uint32_t Last);    // 1 MB granules

  // Whether a cycle from the primary side is passed on to the secondary bus.
  bool ForwardsIo(uint32_t Port) const;
  bool ForwardsMemory(uint32_t Address) const;

private:
  PciBus Behind;
};

}  // namespace Sim
