// PCI configuration access through mechanism 1 (0xCF8 address, 0xCFC data).
#pragma once

#include "Base.h"

// Packed address: register bits 0..11, function 12..14, device 15..19, bus 20..27.
constexpr UINT32 PciAddress(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  return (Bus << 20) | (Device << 15) | (Function << 12) | Register;
}

UINT8 PciCfgRead8(UINT32 Address);
UINT16 PciCfgRead16(UINT32 Address);
UINT16 PciCfgOr16(UINT32 Address, UINT16 OrData);
UINT16 PciCfgAnd16(UINT32 Address, UINT16 AndData);
UINT32 PciCfgRead32(UINT32 Address);
UINT32 PciCfgWrite32(UINT32 Address, UINT32 Value);

UINT16 PortOr16(UINT16 Port, UINT16 OrData);
UINT16 PortAnd16(UINT16 Port, UINT16 AndData);
