// PCI configuration access through mechanism 1 (0xCF8 address, 0xCFC data).
#pragma once

#include "Base.h"

// Packed address: register bits 0..11, function 12..14, device 15..19, bus 20..27.
constexpr UINT32 PciAddress(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  return (Bus << 20) | (Device << 15) | (Function << 12) | Register;
}

namespace PciCf8 {
inline constexpr UINT16 AddressPort = 0xCF8;
inline constexpr UINT16 DataPort = 0xCFC;
inline constexpr UINT32 ConfigEnable = 0x80000000;  // address word bit 31

inline constexpr UINT32 ExtendedRegisterBits = 0xF00;  // packed register bits 8..11

// The processor's node configuration device: bus 0, device 0x18 + node,
// function 4; its register 0x44 lets 0xCF8 bits 24..27 reach registers 0x100..0xFFF.
inline constexpr UINT32 NodeDeviceFirst = 0x18;
inline constexpr UINT32 NodeFunction = 4;
inline constexpr UINT32 NodeExtendedEnableRegister = 0x44;
inline constexpr UINT32 NodeExtendedEnableOn = 1;
}  // namespace PciCf8

// Mechanism-1 address word of a standard register (bits 0..7): all eight bus bits.
constexpr UINT32 PciCf8AddressWord(UINT32 Address) {
  return ((Address >> 4) & 0x00FFFF00) | (Address & 0xFC) | PciCf8::ConfigEnable;
}

// Register bits 8..11 go to address word bits 24..27 on top of the standard
// form, so a bus above 15 keeps its upper bus bits.
constexpr UINT32 PciCf8ExtendedAddressWord(UINT32 Address) {
  return PciCf8AddressWord(Address) | ((Address & PciCf8::ExtendedRegisterBits) << 16);
}

// The node follows the initial APIC ID in CPUID leaf 1 EBX bits 31..24: EBX
// bit 30 is node bit 2 and EBX bits 29..28 are node bits 1..0.
constexpr UINT32 PciCf8NodeOf(UINT32 CpuIdLeaf1Ebx) {
  return (((CpuIdLeaf1Ebx >> 30) & 1) << 2) | ((CpuIdLeaf1Ebx >> 28) & 3);
}

constexpr UINT32 PciCf8NodeEnableAddressWord(UINT32 CpuIdLeaf1Ebx) {
  return PciCf8AddressWord(PciAddress(0, PciCf8::NodeDeviceFirst + PciCf8NodeOf(CpuIdLeaf1Ebx), PciCf8::NodeFunction,
                                      PciCf8::NodeExtendedEnableRegister));
}

static_assert(PciCf8AddressWord(0x0001903D) == 0x8000193C);
static_assert(PciCf8ExtendedAddressWord(PciAddress(0, 0x18, 0, 0x104)) == 0x8100C004);
static_assert(PciCf8ExtendedAddressWord(PciAddress(0x12, 1, 2, 0xF40)) == 0x8F120A40);
static_assert(PciCf8NodeEnableAddressWord(0x00000800) == 0x8000C444);
static_assert(PciCf8NodeEnableAddressWord(0x70000000) == 0x8000FC44);

UINT8 PciCfgRead8(UINT32 Address);
UINT16 PciCfgRead16(UINT32 Address);
UINT16 PciCfgOr16(UINT32 Address, UINT16 OrData);
UINT16 PciCfgAnd16(UINT32 Address, UINT16 AndData);
UINT32 PciCfgRead32(UINT32 Address);
UINT32 PciCfgWrite32(UINT32 Address, UINT32 Value);

UINT16 PortOr16(UINT16 Port, UINT16 OrData);
UINT16 PortAnd16(UINT16 Port, UINT16 AndData);
