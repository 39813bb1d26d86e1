// A 16550-compatible UART as a PCI function: one I/O or memory BAR, a command
// register and an optional power-management capability. While its way from
// the processor is open it places a UART model on the port bus or in memory.
#pragma once

#include <cstdint>

#include "Processor.h"
#include "PciFunction.h"

namespace Sim {

class PciUartFunction : public PciFunction, public PortDevice, public MemoryDevice {
public:
  struct Options {
    unsigned UartBar = 0;
    PciBarKind Kind = PciBarKind::Io;
    uint32_t BarSize = 0;  // 0: 8 bytes of I/O or 4 KB of memory
    uint8_t PowerManagementAt = 0x40;  // capability offset, 0 for none
    uint8_t PowerState = 0;
  };
  // The UART's registers are Target's ports TargetBase.., whatever the BAR
  // says; memory cycles reach them as byte port cycles.
  PciUartFunction(PortDevice& Target, uint16_t TargetBase, Options With);

  const Options& Layout() const { return With; }
  uint32_t UartAddress() const { return BarAddress(With.UartBar); }
  bool UsesMemory() const { return With.Kind != PciBarKind::Io; }

  // Whether the function itself answers at its BAR (decode enabled, D0, an
  // address assigned); the host bridge adds what the bridges above say.
  bool Decodes() const;
  void Place(Processor& On, bool Reachable);
  bool Placed() const { return IsPlaced; }

  uint32_t PortRead(uint16_t Port, unsigned Size) override;
  void PortWrite(uint16_t Port, unsigned Size, uint32_t Value) override;
  uint8_t MemoryRead(uint32_t Address) override;
  void MemoryWrite(uint32_t Address, uint8_t Value) override;

private:
  uint16_t TargetPort(uint32_t Address) const;

  PortDevice& Target;
  uint16_t TargetBase;
  Options With;
  bool IsPlaced = false;
  uint32_t PlacedAt = 0;
};

}  // namespace Sim
