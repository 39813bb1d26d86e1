// The diagnostic port recorder at 0xE8..0xEB.
#include "DiagnosticPort.h"

namespace Sim {

DiagnosticPort::DiagnosticPort(Processor& Bus) : Bus(Bus) { Bus.MapPorts(Port, Port + 3, *this); }

DiagnosticPort::~DiagnosticPort() { Bus.UnmapPorts(*this); }

std::vector<uint32_t> DiagnosticPort::Codes() const {
  std::vector<uint32_t> Values;
  for (const Write& Each : Recorded) {
    if (Each.Size == 4 && Each.Port == Port) {
      Values.push_back(Each.Value);
    }
  }
  return Values;
}

uint32_t DiagnosticPort::PortRead(uint16_t, unsigned) { return 0xFFFFFFFFu; }

void DiagnosticPort::PortWrite(uint16_t WrittenPort, unsigned Size, uint32_t Value) {
  Recorded.push_back({static_cast<uint8_t>(Size), WrittenPort, Value});
}

}  // namespace Sim
