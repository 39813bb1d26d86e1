// A PCI function's configuration space with write masks, BARs and power management.
#include "PciFunction.h"

#include <stdexcept>

namespace Sim {

PciFunction::PciFunction(uint16_t VendorId, uint16_t DeviceId, uint32_t ClassCode, uint8_t HeaderType) {
  Set16(PciConfig::VendorId, VendorId);
  Set16(PciConfig::DeviceId, DeviceId);
  Set32(PciConfig::RevisionId, ClassCode << 8);
  Set8(PciConfig::HeaderType, HeaderType);
  // Decode enables, bus master, parity and SERR responses, interrupt disable.
  SetWritable(PciConfig::Command, 2, 0x0547);
  SetWritable(PciConfig::InterruptLine, 1, 0xFF);
  // Device-specific registers behave as scratch space, as on most silicon.
  for (unsigned Offset = 0x40; Offset < ConfigSize; Offset += 4) {
    SetWritable(static_cast<uint16_t>(Offset), 4, 0xFFFFFFFF);
  }
}

uint16_t PciFunction::Read16(uint16_t Offset) const {
  return static_cast<uint16_t>(Space[Offset] | Space[Offset + 1] << 8);
}

uint32_t PciFunction::Read32(uint16_t Offset) const {
  return Read16(Offset) | static_cast<uint32_t>(Read16(static_cast<uint16_t>(Offset + 2))) << 16;
}

void PciFunction::Set16(uint16_t Offset, uint16_t Value) {
  Space[Offset] = static_cast<uint8_t>(Value);
  Space[Offset + 1] = static_cast<uint8_t>(Value >> 8);
}

void PciFunction::Set32(uint16_t Offset, uint32_t Value) {
  Set16(Offset, static_cast<uint16_t>(Value));
  Set16(static_cast<uint16_t>(Offset + 2), static_cast<uint16_t>(Value >> 16));
}

void PciFunction::SetWritable(uint16_t Offset, unsigned Size, uint32_t Mask) {
  for (unsigned Byte = 0; Byte < Size; ++Byte) {
    WriteMask[Offset + Byte] = static_cast<uint8_t>(Mask >> (Byte * 8));
  }
}

uint32_t PciFunction::ConfigRead(uint16_t Offset, unsigned Size) const {
  uint32_t Value = 0;
  for (unsigned Byte = 0; Byte < Size; ++Byte) {
    Value |= static_cast<uint32_t>(Space[(Offset + Byte) % ConfigSize]) << (Byte * 8);
  }
  return Value;
}

void PciFunction::ConfigWrite(uint16_t Offset, unsigned Size, uint32_t Value) {
  WriteLog.push_back({Offset, static_cast<uint8_t>(Size), Value});
  for (unsigned Byte = 0; Byte < Size; ++Byte) {
    const unsigned At = (Offset + Byte) % ConfigSize;
    const auto New = static_cast<uint8_t>(Value >> (Byte * 8));
    Space[At] = static_cast<uint8_t>((Space[At] & ~WriteMask[At]) | (New & WriteMask[At]));
  }
}

void PciFunction::DefineBar(unsigned Index, PciBarKind Kind, uint32_t Size) {
  if (Index >= PciConfig::BarCount || (Kind == PciBarKind::Memory64 && Index + 1 >= PciConfig::BarCount)) {
    throw std::invalid_argument("no room for that BAR");
  }
  if (Size < 4 || (Size & (Size - 1)) != 0 || (Kind != PciBarKind::Io && Size < 16)) {
    throw std::invalid_argument("a BAR size is a power of two of at least 4 (I/O) or 16 (memory) bytes");
  }
  const auto Offset = static_cast<uint16_t>(PciConfig::Bar0 + Index * 4);
  const uint32_t AddressBits = ~(Size - 1);
  switch (Kind) {
    case PciBarKind::Io:
      // I/O space is 64 KB on x86; the upper half reads 0.
      Set32(Offset, PciConfig::BarIoSpace);
      SetWritable(Offset, 4, AddressBits & 0x0000FFFC);
      break;
    case PciBarKind::Memory32:
      Set32(Offset, 0);
      SetWritable(Offset, 4, AddressBits & 0xFFFFFFF0);
      break;
    case PciBarKind::Memory64:
      Set32(Offset, PciConfig::BarMemoryType64);
      SetWritable(Offset, 4, AddressBits & 0xFFFFFFF0);
      Set32(static_cast<uint16_t>(Offset + 4), 0);
      SetWritable(static_cast<uint16_t>(Offset + 4), 4, 0xFFFFFFFF);
      break;
  }
}

uint32_t PciFunction::BarAddress(unsigned Index) const {
  const uint32_t Value = Read32(static_cast<uint16_t>(PciConfig::Bar0 + Index * 4));
  return (Value & PciConfig::BarIoSpace) != 0 ? Value & ~3u : Value & ~0xFu;
}

void PciFunction::AddPowerManagement(uint8_t Offset, uint8_t PowerState) {
  Set8(Offset, PciConfig::CapabilityPowerManagement);
  Set8(static_cast<uint8_t>(Offset + 1), Read8(PciConfig::CapabilitiesPointer));
  Set16(static_cast<uint16_t>(Offset + 2), 0x0003);  // version 1.2
  SetWritable(Offset, 4, 0);
  PmcsrOffset = static_cast<uint16_t>(Offset + PciConfig::PmControlStatusOffset);
  Set16(PmcsrOffset, PowerState & PciConfig::PmPowerStateMask);
  SetWritable(PmcsrOffset, 2, PciConfig::PmPowerStateMask);
  SetWritable(static_cast<uint16_t>(PmcsrOffset + 2), 2, 0);
  Set8(PciConfig::CapabilitiesPointer, Offset);
  Set16(PciConfig::Status, Read16(PciConfig::Status) | PciConfig::StatusCapabilitiesList);
}

uint8_t PciFunction::PowerState() const {
  return PmcsrOffset == 0 ? 0 : static_cast<uint8_t>(Read16(PmcsrOffset) & PciConfig::PmPowerStateMask);
}

}  // namespace Sim
