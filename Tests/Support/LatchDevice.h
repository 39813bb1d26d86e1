// A plain device for tests of the bus: ports or memory bytes that read back
// what was last written to them.
#pragma once

#include <map>

#include "Processor.h"

class LatchDevice : public Sim::PortDevice, public Sim::MemoryDevice {
public:
  uint32_t PortRead(uint16_t Port, unsigned) override { return PortValues[Port]; }
  void PortWrite(uint16_t Port, unsigned, uint32_t Value) override { PortValues[Port] = Value; }
  uint8_t MemoryRead(uint32_t Address) override { return Bytes[Address]; }
  void MemoryWrite(uint32_t Address, uint8_t Value) override { Bytes[Address] = Value; }

  std::map<uint16_t, uint32_t> PortValues;
  std::map<uint32_t, uint8_t> Bytes;
};
