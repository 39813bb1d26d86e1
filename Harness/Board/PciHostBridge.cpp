// Mechanism-1 configuration access, routing by bus number and UART placement.
#include "PciHostBridge.h"

#include "PciUartFunction.h"

namespace Sim {

PciHostBridge::PciHostBridge(Processor& On) : On(On) { On.MapPorts(AddressPort, DataPort + 3, *this); }

PciHostBridge::~PciHostBridge() {
  // Every UART leaves the board before the functions go away.
  UnplaceUarts(RootBus);
  if (HoleClaimed) {
    On.UnmapMemory(*this);
  }
  On.UnmapPorts(*this);
}

void PciHostBridge::UnplaceUarts(PciBus& Bus) {
  for (const PciBus::Slot& Slot : Bus.Slots()) {
    if (auto* Uart = dynamic_cast<PciUartFunction*>(Slot.Owned.get())) {
      Uart->Place(On, false);
    } else if (auto* Bridge = dynamic_cast<PciBridge*>(Slot.Owned.get())) {
      UnplaceUarts(Bridge->Secondary());
    }
  }
}

void PciHostBridge::ClaimMemoryHole(uint32_t First, uint32_t Last) {
  On.MapMemory(First, Last, *this);
  HoleClaimed = true;
  // Placed again, so that they take precedence over the hole.
  UnplaceUarts(RootBus);
  Refresh();
}

uint8_t PciHostBridge::MemoryRead(uint32_t) { return 0xFF; }

void PciHostBridge::MemoryWrite(uint32_t Address, uint8_t Value) { AbortedLog.push_back({Address, Value}); }

void PciHostBridge::AddProcessorNodes(unsigned Count) {
  for (unsigned Node = 0; Node < Count; ++Node) {
    for (uint8_t Function = 0; Function < NodeFunctions; ++Function) {
      PciFunction& Added = RootBus.Add<PciFunction>(static_cast<uint8_t>(NodeDeviceFirst + Node), Function, 0x1022,
                                                   static_cast<uint16_t>(0x1200 + Function), 0x060000,
                                                   Function == 0 ? 0x80 : 0x00);
      // Extended registers hold a pattern that names them, so a read that
      // lands on the wrong register shows.
      for (uint16_t Offset = 0x100; Offset < PciFunction::ConfigSize; Offset += 4) {
        Added.Set32(Offset, 0xE0000000u | (Node << 20) | (static_cast<uint32_t>(Function) << 16) | Offset);
      }
    }
  }
}

PciFunction* PciHostBridge::Route(uint8_t Bus, uint8_t Device, uint8_t Function) const {
  const PciBus* Current = &RootBus;
  // Each step goes one bridge deeper, so the walk ends with the tree.
  while (Bus != 0) {
    const PciBridge* Next = nullptr;
    for (const PciBus::Slot& Slot : Current->Slots()) {
      const auto* Bridge = dynamic_cast<const PciBridge*>(Slot.Owned.get());
      if (Bridge != nullptr && Bridge->SecondaryBusNumber() <= Bus && Bus <= Bridge->SubordinateBusNumber()) {
        Next = Bridge;
        break;
      }
    }
    if (Next == nullptr) {
      return nullptr;
    }
    if (Next->SecondaryBusNumber() == Bus) {
      return Next->Secondary().Find(Device, Function);
    }
    Current = &Next->Secondary();
  }
  return Current->Find(Device, Function);
}

bool PciHostBridge::ExtendedRegistersOpen() const {
  // The executing processor's node: initial APIC ID bit 6 and bits 5..4.
  const uint32_t ApicId = On.CpuIdLeaf1Ebx >> 24;
  const uint32_t Node = ((ApicId & 0x40) >> 4) | ((ApicId & 0x30) >> 4);
  const PciFunction* Link = Route(0, static_cast<uint8_t>(NodeDeviceFirst + Node), NodeLinkFunction);
  return Link != nullptr && (Link->Read32(NodeExtendedEnable) & 1) != 0;
}

PciHostBridge::Target PciHostBridge::Decode(uint16_t Port, unsigned Size) const {
  Target Decoded;
  const unsigned Lane = Port - DataPort;
  Decoded.Bus = static_cast<uint8_t>(Address >> 16);
  Decoded.Device = static_cast<uint8_t>((Address >> 11) & 0x1F);
  Decoded.Function = static_cast<uint8_t>((Address >> 8) & 0x7);
  Decoded.Register = static_cast<uint16_t>((Address & 0xFC) + Lane);
  // Without the node's enable, bits 24..27 are ignored and the cycle reaches
  // the standard register.
  const uint32_t Extended = (Address >> 24) & 0xF;
  if (Extended != 0 && ExtendedRegistersOpen()) {
    Decoded.Register = static_cast<uint16_t>(Decoded.Register | Extended << 8);
  }
  // Bytes past 0xCFF belong to no one.
  Decoded.Size = static_cast<uint8_t>(Lane + Size > 4 ? 4 - Lane : Size);
  Decoded.Answering = Route(Decoded.Bus, Decoded.Device, Decoded.Function);
  return Decoded;
}

uint32_t PciHostBridge::PortRead(uint16_t Port, unsigned Size) {
  if (Port < DataPort) {
    // Only a doubleword access at 0xCF8 reaches the address register.
    return Port == AddressPort && Size == 4 ? Address : 0xFFFFFFFF;
  }
  if ((Address & ConfigEnable) == 0) {
    return 0xFFFFFFFF;
  }
  const Target To = Decode(Port, Size);
  uint32_t Value = 0xFFFFFFFF;
  if (To.Answering != nullptr) {
    const uint32_t Outside = To.Size == 4 ? 0 : 0xFFFFFFFFu << (To.Size * 8);
    Value = To.Answering->ConfigRead(To.Register, To.Size) | Outside;
  }
  CycleLog.push_back({false, To.Bus, To.Device, To.Function, To.Register, To.Size, Value, To.Answering != nullptr});
  return Value;
}

void PciHostBridge::PortWrite(uint16_t Port, unsigned Size, uint32_t Value) {
  if (Port < DataPort) {
    if (Port == AddressPort && Size == 4) {
      Address = Value;
    }
    return;
  }
  if ((Address & ConfigEnable) == 0) {
    return;
  }
  const Target To = Decode(Port, Size);
  const uint32_t Kept = To.Size == 4 ? Value : Value & ((1u << (To.Size * 8)) - 1);
  CycleLog.push_back({true, To.Bus, To.Device, To.Function, To.Register, To.Size, Kept, To.Answering != nullptr});
  if (To.Answering != nullptr) {
    To.Answering->ConfigWrite(To.Register, To.Size, Kept);
    Refresh();
  }
}

void PciHostBridge::Refresh() {
  std::vector<const PciBridge*> Path;
  RefreshBus(RootBus, Path);
  // The host bridge decodes its own configuration ports before anything it
  // forwards: a UART whose I/O BAR covers 0xCF8..0xCFF must not take the
  // address register from the code that programs it. The last range mapped
  // answers first.
  On.UnmapPorts(*this);
  On.MapPorts(AddressPort, DataPort + 3, *this);
}

void PciHostBridge::RefreshBus(PciBus& Bus, std::vector<const PciBridge*>& Path) {
  for (const PciBus::Slot& Slot : Bus.Slots()) {
    if (auto* Uart = dynamic_cast<PciUartFunction*>(Slot.Owned.get())) {
      const uint32_t At = Uart->UartAddress();
      bool Reachable = true;
      for (const PciBridge* Bridge : Path) {
        Reachable = Reachable && (Uart->UsesMemory() ? Bridge->ForwardsMemory(At) : Bridge->ForwardsIo(At));
      }
      Uart->Place(On, Reachable);
    } else if (auto* Bridge = dynamic_cast<PciBridge*>(Slot.Owned.get())) {
      Path.push_back(Bridge);
      RefreshBus(Bridge->Secondary(), Path);
      Path.pop_back();
    }
  }
}

}  // namespace Sim
