// PCI-to-PCI bridge registers and the windows they open.
#include "PciBridge.h"

namespace Sim {
namespace {
constexpr uint32_t IoGranule = 0x1000;
constexpr uint32_t MemoryGranule = 0x100000;
}  // namespace

PciBridge::PciBridge() : PciBridge(Options{}) {}

PciBridge::PciBridge(Options With) : PciFunction(0x1B36, 0x0001, 0x060400, PciConfig::HeaderTypeBridge) {
  SetWritable(PciConfig::PrimaryBus, 3, 0xFFFFFF);
  // Only the address nibble of the I/O base and limit is writable; the low
  // nibble says whether the upper 16 bits at 0x30/0x32 exist.
  const uint8_t IoCapability = With.Io32 ? PciConfig::IoDecode32 : 0;
  Set8(PciConfig::IoBase, IoCapability);
  Set8(PciConfig::IoLimit, IoCapability);
  SetWritable(PciConfig::IoBase, 2, 0xF0F0);
  SetWritable(PciConfig::MemoryBase, 4, 0xFFF0FFF0);
  SetWritable(PciConfig::PrefetchableBase, 4, 0xFFF0FFF0);
  SetWritable(PciConfig::IoBaseUpper, 4, With.Io32 ? 0xFFFFFFFF : 0);
  SetWritable(PciConfig::BridgeControl, 2, 0x0FFF);
  // Closed windows: base above limit.
  Set8(PciConfig::IoBase, static_cast<uint8_t>(0xF0 | IoCapability));
  Set16(PciConfig::MemoryBase, 0xFFF0);
  if (With.PowerManagementAt != 0) {
    AddPowerManagement(With.PowerManagementAt);
  }
}

void PciBridge::SetBusNumbers(uint8_t Primary, uint8_t SecondaryNumber, uint8_t Subordinate) {
  Set8(PciConfig::PrimaryBus, Primary);
  Set8(PciConfig::SecondaryBus, SecondaryNumber);
  Set8(PciConfig::SubordinateBus, Subordinate);
}

void PciBridge::SetIoWindow(uint32_t First, uint32_t Last) {
  const uint8_t Capability = Read8(PciConfig::IoBase) & 0x0F;
  Set8(PciConfig::IoBase, static_cast<uint8_t>(((First >> 8) & 0xF0) | Capability));
  Set8(PciConfig::IoLimit, static_cast<uint8_t>(((Last >> 8) & 0xF0) | Capability));
  if (Capability == PciConfig::IoDecode32) {
    Set16(PciConfig::IoBaseUpper, static_cast<uint16_t>(First >> 16));
    Set16(PciConfig::IoLimitUpper, static_cast<uint16_t>(Last >> 16));
  }
}

void PciBridge::SetMemoryWindow(uint32_t First, uint32_t Last) {
  Set16(PciConfig::MemoryBase, static_cast<uint16_t>((First >> 16) & 0xFFF0));
  Set16(PciConfig::MemoryLimit, static_cast<uint16_t>((Last >> 16) & 0xFFF0));
}

bool PciBridge::ForwardsIo(uint32_t Port) const {
  if ((CommandRegister() & PciConfig::CommandIoSpace) == 0 || PowerState() != 0) {
    return false;
  }
  const uint8_t BaseRegister = Read8(PciConfig::IoBase);
  const uint8_t LimitRegister = Read8(PciConfig::IoLimit);
  uint32_t First = (BaseRegister & 0xF0u) << 8;
  uint32_t Last = ((LimitRegister & 0xF0u) << 8) | (IoGranule - 1);
  if ((BaseRegister & 0x0F) == PciConfig::IoDecode32) {
    First |= static_cast<uint32_t>(Read16(PciConfig::IoBaseUpper)) << 16;
    Last |= static_cast<uint32_t>(Read16(PciConfig::IoLimitUpper)) << 16;
  }
  return First <= Last && Port >= First && Port <= Last;
}

bool PciBridge::ForwardsMemory(uint32_t Address) const {
  if ((CommandRegister() & PciConfig::CommandMemorySpace) == 0 || PowerState() != 0) {
    return false;
  }
  const uint32_t First = static_cast<uint32_t>(Read16(PciConfig::MemoryBase) & 0xFFF0) << 16;
  const uint32_t Last = (static_cast<uint32_t>(Read16(PciConfig::MemoryLimit) & 0xFFF0) << 16) | (MemoryGranule - 1);
  return First <= Last && Address >= First && Address <= Last;
}

}  // namespace Sim
