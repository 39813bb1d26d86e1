// The PCI host bridge: configuration mechanism 1 at 0xCF8 (address) and
// 0xCFC..0xCFF (data), routing of configuration cycles to the buses behind
// PCI-to-PCI bridges, the processor node devices whose register 0x44 opens the
// extended registers, and the placement of PCI UARTs whose way is open.
#pragma once

#include <cstdint>
#include <vector>

#include "Processor.h"
#include "PciBridge.h"
#include "PciBus.h"
#include "PciFunction.h"

namespace Sim {

class PciHostBridge : public PortDevice, public MemoryDevice {
public:
  static constexpr uint16_t AddressPort = 0xCF8;
  static constexpr uint16_t DataPort = 0xCFC;
  static constexpr uint32_t ConfigEnable = 0x80000000;
  static constexpr uint8_t NodeDeviceFirst = 0x18;
  static constexpr uint8_t NodeFunctions = 5;  // functions 0..4 of each node device
  static constexpr uint8_t NodeLinkFunction = 4;
  static constexpr uint16_t NodeExtendedEnable = 0x44;  // bit 0 opens registers 0x100..0xFFF

  explicit PciHostBridge(Processor& On);
  ~PciHostBridge() override;

  PciBus& Root() { return RootBus; }

  // Node configuration devices 0x18.. on bus 0, one per processor node.
  void AddProcessorNodes(unsigned Count);

  // The function a configuration cycle to Bus would reach, or null.
  PciFunction* Route(uint8_t Bus, uint8_t Device, uint8_t Function) const;

  // Re-evaluates which PCI UARTs the processor can reach. Configuration
  // writes through the ports do it by themselves; call it after set-up.
  void Refresh();

  // Memory cycles in First..Last that no device claims end in master abort:
  // reads return all ones and writes vanish (they are kept for inspection).
  // PCI UARTs placed in that range answer in front of it.
  void ClaimMemoryHole(uint32_t First, uint32_t Last);
  struct AbortedWrite {
    uint32_t Address;
    uint8_t Value;
    bool operator==(const AbortedWrite&) const = default;
  };
  const std::vector<AbortedWrite>& AbortedWrites() const { return AbortedLog; }
  void ClearAbortedWrites() { AbortedLog.clear(); }

  uint32_t AddressRegister() const { return Address; }
  void SetAddressRegister(uint32_t Value) { Address = Value; }

  // Every configuration cycle through the data window, decoded.
  struct Cycle {
    bool Write;
    uint8_t Bus;
    uint8_t Device;
    uint8_t Function;
    uint16_t Register;
    uint8_t Size;
    uint32_t Value;
    bool Claimed;  // a function answered
    bool operator==(const Cycle&) const = default;
  };
  const std::vector<Cycle>& Cycles() const { return CycleLog; }
  void ClearCycles() { CycleLog.clear(); }

  uint32_t PortRead(uint16_t Port, unsigned Size) override;
  void PortWrite(uint16_t Port, unsigned Size, uint32_t Value) override;
  uint8_t MemoryRead(uint32_t Address) override;
  void MemoryWrite(uint32_t Address, uint8_t Value) override;

private:
  struct Target {
    uint8_t Bus = 0;
    uint8_t Device = 0;
    uint8_t Function = 0;
    uint16_t Register = 0;
    uint8_t Size = 0;
    PciFunction* Answering = nullptr;
  };
  Target Decode(uint16_t Port, unsigned Size) const;
  bool ExtendedRegistersOpen() const;
  void RefreshBus(PciBus& Bus, std::vector<const PciBridge*>& Path);
  void UnplaceUarts(PciBus& Bus);

  Processor& On;
  PciBus RootBus;
  uint32_t Address = 0;
  std::vector<Cycle> CycleLog;
  std::vector<AbortedWrite> AbortedLog;
  bool HoleClaimed = false;
};

}  // namespace Sim
