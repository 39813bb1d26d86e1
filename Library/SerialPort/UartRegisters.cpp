// One 16550 register, on an I/O port or in memory as the build places it.
#include "BuildSettings.h"
#include "Library/IoLib.h"
#include "Library/SerialPortLib.h"

namespace {
constexpr UINTN RegisterAddress(UINTN Base, UINTN Index) { return Base + Index * Settings::UartRegisterStride; }
}  // namespace

UINT8 UartRead(UINTN Base, UINTN Index) {
  const UINTN Address = RegisterAddress(Base, Index);
  if constexpr (Settings::UartUseMmio) {
    return MmioIn8(Address);
  } else {
    return PortIn8(static_cast<UINT16>(Address));
  }
}

UINT8 UartWrite(UINTN Base, UINTN Index, UINT8 Value) {
  const UINTN Address = RegisterAddress(Base, Index);
  if constexpr (Settings::UartUseMmio) {
    return MmioOut8(Address, Value);
  } else {
    return PortOut8(static_cast<UINT16>(Address), Value);
  }
}
