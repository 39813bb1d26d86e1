// A PCI UART function that forwards its BAR's cycles to a UART model.
#include "PciUartFunction.h"

namespace Sim {

PciUartFunction::PciUartFunction(PortDevice& Target, uint16_t TargetBase, Options With)
    : PciFunction(0x1B36, 0x0002, 0x070002, PciConfig::HeaderTypeFunction),
      Target(Target),
      TargetBase(TargetBase),
      With(With) {
  if (this->With.BarSize == 0) {
    this->With.BarSize = UsesMemory() ? 0x1000 : 8;
  }
  DefineBar(With.UartBar, With.Kind, this->With.BarSize);
  if (With.PowerManagementAt != 0) {
    AddPowerManagement(With.PowerManagementAt, With.PowerState);
  }
}

bool PciUartFunction::Decodes() const {
  const uint16_t Enable = UsesMemory() ? PciConfig::CommandMemorySpace : PciConfig::CommandIoSpace;
  return (CommandRegister() & Enable) != 0 && PowerState() == 0 && UartAddress() != 0;
}

void PciUartFunction::Place(Processor& On, bool Reachable) {
  const bool Wanted = Reachable && Decodes();
  if (Wanted == IsPlaced && (!Wanted || PlacedAt == UartAddress())) {
    return;
  }
  if (IsPlaced) {
    if (UsesMemory()) {
      On.UnmapMemory(*this);
    } else {
      On.UnmapPorts(*this);
    }
  }
  IsPlaced = Wanted;
  PlacedAt = UartAddress();
  if (!Wanted) {
    return;
  }
  const uint32_t Last = PlacedAt + With.BarSize - 1;
  if (UsesMemory()) {
    On.MapMemory(PlacedAt, Last, *this);
  } else {
    On.MapPorts(static_cast<uint16_t>(PlacedAt), static_cast<uint16_t>(Last), *this);
  }
}

uint16_t PciUartFunction::TargetPort(uint32_t Address) const {
  return static_cast<uint16_t>(TargetBase + (Address - PlacedAt));
}

uint32_t PciUartFunction::PortRead(uint16_t Port, unsigned Size) { return Target.PortRead(TargetPort(Port), Size); }

void PciUartFunction::PortWrite(uint16_t Port, unsigned Size, uint32_t Value) {
  Target.PortWrite(TargetPort(Port), Size, Value);
}

uint8_t PciUartFunction::MemoryRead(uint32_t Address) {
  return static_cast<uint8_t>(Target.PortRead(TargetPort(Address), 1));
}

void PciUartFunction::MemoryWrite(uint32_t Address, uint8_t Value) { Target.PortWrite(TargetPort(Address), 1, Value); }

}  // namespace Sim
