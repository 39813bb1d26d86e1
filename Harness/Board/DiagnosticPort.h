// The 32-bit diagnostic port 0xE8 that the halt routine writes its codes to.
#pragma once

#include <cstdint>
#include <vector>

#include "Processor.h"

namespace Sim {

// Records every write, as a logic analyser on a POST-code card would; reads
// find nothing there (all-ones).
class DiagnosticPort : public PortDevice {
public:
  static constexpr uint16_t Port = 0xE8;

  struct Write {
    uint8_t Size;  // bytes
    uint16_t Port;
    uint32_t Value;
    bool operator==(const Write&) const = default;
  };

  explicit DiagnosticPort(Processor& Bus);
  ~DiagnosticPort() override;
  DiagnosticPort(const DiagnosticPort&) = delete;
  DiagnosticPort& operator=(const DiagnosticPort&) = delete;

  const std::vector<Write>& Writes() const { return Recorded; }
  // The values of the 32-bit writes to 0xE8, in order.
  std::vector<uint32_t> Codes() const;
  void Clear() { Recorded.clear(); }

  uint32_t PortRead(uint16_t Port, unsigned Size) override;
  void PortWrite(uint16_t Port, unsigned Size, uint32_t Value) override;

private:
  Processor& Bus;
  std::vector<Write> Recorded;
};

}  // namespace Sim
