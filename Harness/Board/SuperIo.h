// A Super I/O chip at ports 0x4E (index) and 0x4F (data) with its two UART
// logical devices.
#pragma once

#include <array>
#include <cstdint>

#include "Processor.h"

namespace Sim {

// The configuration space of a plug-and-play style Super I/O that comes up in
// configuration mode (no entry key): registers 0x00..0x2F are global, 0x07
// selects the logical device, and 0x30..0xFF belong to the selected device
// (0x30 activation, 0x60/0x61 I/O base, 0x70 interrupt). Logical device 3 is
// the UART meant for 0x3F8 and device 2 the one meant for 0x2F8; both come up
// inactive at those bases, as straps usually leave them.
class SuperIo : public PortDevice {
public:
  static constexpr uint16_t IndexPort = 0x4E;
  static constexpr uint16_t DataPort = 0x4F;

  static constexpr uint8_t LogicalDeviceSelect = 0x07;
  static constexpr uint8_t Activation = 0x30;
  static constexpr uint8_t BaseHigh = 0x60;
  static constexpr uint8_t BaseLow = 0x61;
  static constexpr uint8_t InterruptSelect = 0x70;
  static constexpr uint8_t ActivateBit = 0x01;

  static constexpr uint8_t SecondUartDevice = 2;  // 0x2F8
  static constexpr uint8_t FirstUartDevice = 3;   // 0x3F8
  static constexpr unsigned LogicalDevices = 16;

  explicit SuperIo(Processor& Bus);
  ~SuperIo() override;
  SuperIo(const SuperIo&) = delete;
  SuperIo& operator=(const SuperIo&) = delete;

  // An absent chip leaves 0x4E/0x4F unclaimed, so they read all-ones.
  void SetPresent(bool Present);
  bool Present() const { return IsPresent; }

  // Configuration registers, set and inspected without bus cycles.
  uint8_t Register(uint8_t Device, uint8_t Index) const;
  void SetRegister(uint8_t Device, uint8_t Index, uint8_t Value);
  uint8_t SelectedDevice() const { return Global[LogicalDeviceSelect]; }

  // What an earlier boot stage may have left behind.
  void Activate(uint8_t Device, uint16_t Base, uint8_t Interrupt);

  bool Active(uint8_t Device) const { return (Register(Device, Activation) & ActivateBit) != 0; }
  uint16_t Base(uint8_t Device) const;
  uint8_t Interrupt(uint8_t Device) const { return Register(Device, InterruptSelect); }
  // Whether the chip decodes Base for that device: present, active and there.
  bool Decodes(uint8_t Device, uint16_t Base) const;

  uint32_t PortRead(uint16_t Port, unsigned Size) override;
  void PortWrite(uint16_t Port, unsigned Size, uint32_t Value) override;

private:
  static constexpr unsigned DeviceRegisters = 0x100 - Activation;

  uint8_t& Cell(uint8_t Device, uint8_t Index);

  Processor& Bus;
  bool IsPresent = true;
  uint8_t SelectedIndex = 0;
  std::array<uint8_t, Activation> Global{};
  std::array<std::array<uint8_t, DeviceRegisters>, LogicalDevices> Devices{};
};

}  // namespace Sim
