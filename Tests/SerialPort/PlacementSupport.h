// Shared by the register placement tests: where this build puts the UART's
// registers, and how a test sends text.
#pragma once

#include <string>

#include "Board.h"
#include "BuildSettings.h"
#include "Library/SerialPortLib.h"

namespace Placement {
inline constexpr uint32_t Stride = Settings::UartRegisterStride;
constexpr uint32_t WindowEnd(uint32_t Base) { return Base + 8 * Stride - 1; }

inline Sim::Board::Layout BuildLayout() {
  Sim::Board::Layout Wiring;
  Wiring.Com1 = {Settings::UartBase, Stride, Settings::UartUseMmio};
  Wiring.Com2 = {Sim::Board::Com2Base, Settings::UartUseMmio ? 1 : Stride, false};
  return Wiring;
}

inline UINTN Send(const std::string& Text) {
  return SerialWrite(reinterpret_cast<const UINT8*>(Text.data()), static_cast<UINTN>(Text.size()));
}
}  // namespace Placement
