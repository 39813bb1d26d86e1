// The CMOS RAM model: an index latch with the NMI bit and 128 bytes of data.
#include "Cmos.h"

namespace Sim {

Cmos::Cmos(Processor& Bus) : Bus(Bus) { Bus.MapPorts(IndexPort, DataPort, *this); }

Cmos::~Cmos() { Bus.UnmapPorts(*this); }

uint32_t Cmos::PortRead(uint16_t Port, unsigned) {
  if (Port == DataPort) {
    return Bytes[Selected];
  }
  // The index port is write-only on the chipsets this board stands for.
  return 0xFFFFFFFFu;
}

void Cmos::PortWrite(uint16_t Port, unsigned, uint32_t Value) {
  const auto Byte = static_cast<uint8_t>(Value);
  if (Port == IndexPort) {
    Selected = Byte & IndexMask;
    NmiMask = (Byte & NmiDisable) != 0;
  } else {
    Bytes[Selected] = Byte;
  }
}

}  // namespace Sim
