// The values the shipped image is built with. A build's BuildSettings.h pulls
// these into namespace Settings and may declare its own values in front of
// them, each through QEL_OVERRIDE or QEL_OVERRIDE_LIST.
#pragma once

#include "Base.h"

// One hop on the way to a PCI-attached UART; a Device of 0xFF ends the list.
struct UartPciDevice {
  UINT8 Device;
  UINT8 Function;
  UINT16 PowerManagementRegister;
};
static_assert(sizeof(UartPciDevice) == 4);

inline constexpr UINT8 UartPciDeviceListEnd = 0xFF;

namespace DefaultSettings {
// Entry
inline constexpr UINT32 _gPeimRevision = 0;

// Debug reporting
inline constexpr UINT8 DebugControlMask = 0x1F;  // 0x01 checks, 0x02 messages, 0x10 trap, 0x20 halt
inline constexpr UINT32 FixedPrintLevelMask = 0xFFFFFFFF;

// String limits
inline constexpr UINT32 PcdMaximumUnicodeStringLength = 1000000;
inline constexpr UINT32 PcdMaximumAsciiStringLength = 0;  // 0: no limit

// Serial console
inline constexpr UINT32 UartBase = 0x3F8;
inline constexpr UINT8 UartLineControl = 0x03;  // 8 data bits, no parity, 1 stop bit
inline constexpr UINT8 UartFifoControl = 0x07;
inline constexpr UINT32 UartExtendedTxFifoSize = 64;
inline constexpr UINT32 UartRegisterStride = 1;
inline constexpr bool UartUseMmio = false;
inline constexpr bool UartHardwareFlowControl = false;
inline constexpr bool UartDetectCable = false;
inline constexpr UartPciDevice UartPciDeviceList[] = {{UartPciDeviceListEnd, 0, 0}};
}  // namespace DefaultSettings

// A build's own value for a setting. A name that is not a setting here stops
// the build, where a plain declaration would compile and leave the default in
// force; a scalar takes the default's type.
#define QEL_OVERRIDE(Name, ...)                                                           \
  static_assert(sizeof(DefaultSettings::Name) != 0, #Name " is a setting");              \
  inline constexpr decltype(DefaultSettings::Name) Name = __VA_ARGS__

// The same for a list, whose length is the build's own.
#define QEL_OVERRIDE_LIST(Type, Name, ...)                                                \
  static_assert(sizeof(DefaultSettings::Name[0]) == sizeof(Type), #Name " is a list of " #Type); \
  inline constexpr Type Name[] = __VA_ARGS__
