// One PCI function's 4 KB configuration space: registers with read-only bits,
// base address registers that answer sizing, an optional power-management
// capability, and a log of the writes the function received.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace Sim {

// Offsets and bits of the configuration header (PCI Local Bus 3.0, PCI-to-PCI
// Bridge 1.2, PCI Power Management 1.2).
namespace PciConfig {
inline constexpr uint16_t VendorId = 0x00;
inline constexpr uint16_t DeviceId = 0x02;
inline constexpr uint16_t Command = 0x04;
inline constexpr uint16_t Status = 0x06;
inline constexpr uint16_t RevisionId = 0x08;  // class code in bits 8..31 of the dword
inline constexpr uint16_t HeaderType = 0x0E;
inline constexpr uint16_t Bar0 = 0x10;
inline constexpr unsigned BarCount = 6;
inline constexpr uint16_t CapabilitiesPointer = 0x34;
inline constexpr uint16_t InterruptLine = 0x3C;

inline constexpr uint16_t CommandIoSpace = 0x0001;
inline constexpr uint16_t CommandMemorySpace = 0x0002;
inline constexpr uint16_t CommandBusMaster = 0x0004;
inline constexpr uint16_t StatusCapabilitiesList = 0x0010;

inline constexpr uint32_t BarIoSpace = 0x1;           // bit 0 of an I/O BAR
inline constexpr uint32_t BarMemoryType64 = 0x4;      // bits 2..1 = 10b
inline constexpr uint32_t BarMemoryTypeMask = 0x6;

inline constexpr uint8_t HeaderTypeFunction = 0x00;
inline constexpr uint8_t HeaderTypeBridge = 0x01;

// PCI-to-PCI bridge header.
inline constexpr uint16_t PrimaryBus = 0x18;
inline constexpr uint16_t SecondaryBus = 0x19;
inline constexpr uint16_t SubordinateBus = 0x1A;
inline constexpr uint16_t IoBase = 0x1C;
inline constexpr uint16_t IoLimit = 0x1D;
inline constexpr uint16_t MemoryBase = 0x20;
inline constexpr uint16_t MemoryLimit = 0x22;
inline constexpr uint16_t PrefetchableBase = 0x24;
inline constexpr uint16_t PrefetchableLimit = 0x26;
inline constexpr uint16_t IoBaseUpper = 0x30;
inline constexpr uint16_t IoLimitUpper = 0x32;
inline constexpr uint16_t BridgeControl = 0x3E;
inline constexpr uint8_t IoDecode32 = 0x01;  // low nibble of the I/O base and limit registers

// Power-management capability: ID, next pointer, capabilities, then the
// control/status register whose bits 0..1 are the power state.
inline constexpr uint8_t CapabilityPowerManagement = 0x01;
inline constexpr uint16_t PmControlStatusOffset = 4;
inline constexpr uint16_t PmPowerStateMask = 0x0003;
}  // namespace PciConfig

enum class PciBarKind : uint8_t { Io, Memory32, Memory64 };

class PciFunction {
public:
  static constexpr unsigned ConfigSize = 4096;

  PciFunction(uint16_t VendorId, uint16_t DeviceId, uint32_t ClassCode, uint8_t HeaderType);
  virtual ~PciFunction() = default;
  PciFunction(const PciFunction&) = delete;
  PciFunction& operator=(const PciFunction&) = delete;

  // A configuration cycle as the host bridge delivers it: Size bytes from
  // Offset, within one doubleword. Read-only bits keep their value.
  uint32_t ConfigRead(uint16_t Offset, unsigned Size) const;
  void ConfigWrite(uint16_t Offset, unsigned Size, uint32_t Value);

  // Set-up and inspection from the test side, past the write masks.
  uint8_t Read8(uint16_t Offset) const { return Space[Offset]; }
  uint16_t Read16(uint16_t Offset) const;
  uint32_t Read32(uint16_t Offset) const;
  void Set8(uint16_t Offset, uint8_t Value) { Space[Offset] = Value; }
  void Set16(uint16_t Offset, uint16_t Value);
  void Set32(uint16_t Offset, uint32_t Value);
  // Which bits software may change; everything starts read-only except the
  // registers a constructor opens.
  void SetWritable(uint16_t Offset, unsigned Size, uint32_t Mask);

  // A base address register of Size bytes (a power of two): its address bits
  // below the size read as 0, so writing all ones reads back the size mask.
  void DefineBar(unsigned Index, PciBarKind Kind, uint32_t Size);
  uint32_t BarAddress(unsigned Index) const;

  // A power-management capability at Offset (PMCSR at Offset + 4), linked at
  // the head of the capability list.
  void AddPowerManagement(uint8_t Offset, uint8_t PowerState = 0);
  uint16_t PowerManagementRegister() const { return PmcsrOffset; }
  uint8_t PowerState() const;  // 0 (D0) when the function has no capability

  uint16_t CommandRegister() const { return Read16(PciConfig::Command); }

  struct Write {
    uint16_t Offset;
    uint8_t Size;
    uint32_t Value;
    bool operator==(const Write&) const = default;
  };
  const std::vector<Write>& Writes() const { return WriteLog; }
  void ClearWrites() { WriteLog.clear(); }

private:
  std::array<uint8_t, ConfigSize> Space{};
  std::array<uint8_t, ConfigSize> WriteMask{};
  std::vector<Write> WriteLog;
  uint16_t PmcsrOffset = 0;
};

}  // namespace Sim
