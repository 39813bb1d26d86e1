// The Super I/O model: index/data access, logical-device selection and the
// UART devices' activation, base and interrupt registers.
#include "SuperIo.h"

namespace Sim {

SuperIo::SuperIo(Processor& Bus) : Bus(Bus) {
  SetRegister(FirstUartDevice, BaseHigh, 0x03);
  SetRegister(FirstUartDevice, BaseLow, 0xF8);
  SetRegister(FirstUartDevice, InterruptSelect, 4);
  SetRegister(SecondUartDevice, BaseHigh, 0x02);
  SetRegister(SecondUartDevice, BaseLow, 0xF8);
  SetRegister(SecondUartDevice, InterruptSelect, 3);
  Bus.MapPorts(IndexPort, DataPort, *this);
}

SuperIo::~SuperIo() { Bus.UnmapPorts(*this); }

void SuperIo::SetPresent(bool Present) {
  if (Present == IsPresent) {
    return;
  }
  IsPresent = Present;
  if (Present) {
    Bus.MapPorts(IndexPort, DataPort, *this);
  } else {
    Bus.UnmapPorts(*this);
  }
}

uint8_t& SuperIo::Cell(uint8_t Device, uint8_t Register) {
  if (Register < Activation) {
    return Global[Register];
  }
  return Devices[Device % LogicalDevices][Register - Activation];
}

uint8_t SuperIo::Register(uint8_t Device, uint8_t Register) const {
  return const_cast<SuperIo*>(this)->Cell(Device, Register);
}

void SuperIo::SetRegister(uint8_t Device, uint8_t Register, uint8_t Value) { Cell(Device, Register) = Value; }

void SuperIo::Activate(uint8_t Device, uint16_t DeviceBase, uint8_t DeviceInterrupt) {
  SetRegister(Device, BaseHigh, static_cast<uint8_t>(DeviceBase >> 8));
  SetRegister(Device, BaseLow, static_cast<uint8_t>(DeviceBase));
  SetRegister(Device, InterruptSelect, DeviceInterrupt);
  SetRegister(Device, Activation, ActivateBit);
}

uint16_t SuperIo::Base(uint8_t Device) const {
  return static_cast<uint16_t>(Register(Device, BaseHigh) << 8 | Register(Device, BaseLow));
}

bool SuperIo::Decodes(uint8_t Device, uint16_t DeviceBase) const {
  return IsPresent && Active(Device) && Base(Device) == DeviceBase;
}

uint32_t SuperIo::PortRead(uint16_t Port, unsigned) {
  if (Port == IndexPort) {
    return SelectedIndex;
  }
  return Cell(SelectedDevice(), SelectedIndex);
}

void SuperIo::PortWrite(uint16_t Port, unsigned, uint32_t Value) {
  const auto Byte = static_cast<uint8_t>(Value);
  if (Port == IndexPort) {
    SelectedIndex = Byte;
  } else {
    Cell(SelectedDevice(), SelectedIndex) = Byte;
  }
}

}  // namespace Sim
