// The CMOS RAM of the real-time clock at ports 0x70 (index) and 0x71 (data).
#pragma once

#include <array>
#include <cstdint>

#include "Processor.h"

namespace Sim {

// 128 bytes behind an index latch. Bit 7 of the index write is the NMI mask of
// the chipset, not part of the address, so 0xEF and 0x6F reach the same byte.
// The clock registers (0x00..0x0D) are held as plain bytes: nothing on this
// board reads the time.
class Cmos : public PortDevice {
public:
  static constexpr uint16_t IndexPort = 0x70;
  static constexpr uint16_t DataPort = 0x71;
  static constexpr uint8_t NmiDisable = 0x80;

  explicit Cmos(Processor& Bus);
  ~Cmos() override;
  Cmos(const Cmos&) = delete;
  Cmos& operator=(const Cmos&) = delete;

  // Contents, set and inspected without bus cycles.
  void Set(uint8_t Index, uint8_t Value) { Bytes[Index & IndexMask] = Value; }
  uint8_t Get(uint8_t Index) const { return Bytes[Index & IndexMask]; }

  // The latch as the last index write left it.
  uint8_t SelectedIndex() const { return Selected; }
  bool NmiMasked() const { return NmiMask; }

  uint32_t PortRead(uint16_t Port, unsigned Size) override;
  void PortWrite(uint16_t Port, unsigned Size, uint32_t Value) override;

private:
  static constexpr uint8_t IndexMask = 0x7F;

  Processor& Bus;
  std::array<uint8_t, 128> Bytes{};
  uint8_t Selected = 0;
  bool NmiMask = false;
};

}  // namespace Sim
