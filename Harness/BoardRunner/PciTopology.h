// The PCI way to the UART that this build's device list describes, laid out on
// the simulated board as an earlier boot stage would have left it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Board.h"
#include "PciUartFunction.h"

class PciWay {
public:
  explicit PciWay(Sim::Board& Board);
  ~PciWay();
  PciWay(const PciWay&) = delete;
  PciWay& operator=(const PciWay&) = delete;

  // A line on the bridges and the UART function, or empty for a legacy UART.
  std::string Describe();
  // Where the PCI UART decodes (COM1's model answers there), none for a legacy UART.
  std::optional<uint32_t> UartAddress() const;
  bool UartInMemory() const;
  // The PCI function in front of COM1's model, none for a legacy UART.
  const Sim::PciUartFunction* UartFunction() const;

private:
  struct Parts;
  Parts* Built = nullptr;
};
