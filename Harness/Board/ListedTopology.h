// A board topology built from the build's UartPciDeviceList, and a decoder
// that turns the bus trace into the writes that FindUartBase made.
#pragma once

#include <string>
#include <vector>

#include "Processor.h"
#include "BuildSettings.h"
#include "HexField.h"
#include "PciHostBridge.h"
#include "PciUartFunction.h"

namespace Listed {
constexpr bool UseMmio = Settings::UartUseMmio;
constexpr uint32_t UartBase = Settings::UartBase;

constexpr unsigned HopCount() {
  unsigned Count = 0;
  while (Settings::UartPciDeviceList[Count].Device != UartPciDeviceListEnd) {
    ++Count;
  }
  return Count;
}
constexpr unsigned Bridges = HopCount() - 1;
constexpr const UartPciDevice& Hop(unsigned Index) { return Settings::UartPciDeviceList[Index]; }
constexpr const UartPciDevice& UartHop() { return Hop(Bridges); }

constexpr uint32_t MemoryWindowFirst = 0xFE000000;
constexpr uint32_t MemoryHoleFirst = 0xC0000000;

// Every hop as an earlier boot stage would leave a cold board: buses
// numbered, windows open and nested, nothing decoding, everything that can
// leave D0 in D3. Bridge i sits on bus Bus[i]; its secondary bus is 2i + 3
// and every bridge forwards up to bus 0x20. Odd bridges decode 32-bit I/O.
struct Topology {
  std::vector<Sim::PciBridge*> Bridge;
  std::vector<uint8_t> Bus;  // of each hop, the UART last
  Sim::PciUartFunction* Uart = nullptr;

  Topology(Sim::PciHostBridge& Host, Sim::PortDevice& Target, uint16_t TargetBase,
           Sim::PciUartFunction::Options UartLayout = {}) {
    if (UseMmio) {
      Host.ClaimMemoryHole(MemoryHoleFirst, 0xFFFFFFFF);
    }
    Sim::PciBus* On = &Host.Root();
    uint8_t Number = 0;
    for (unsigned Index = 0; Index < Bridges; ++Index) {
      const UartPciDevice& Each = Hop(Index);
      const uint8_t PmAt = Each.PowerManagementRegister == 0 ? 0 : static_cast<uint8_t>(Each.PowerManagementRegister - 4);
      auto& Added = On->Add<Sim::PciBridge>(Each.Device, Each.Function,
                                           Sim::PciBridge::Options{.Io32 = Index % 2 == 1, .PowerManagementAt = PmAt});
      const auto Secondary = static_cast<uint8_t>(2 * Index + 3);
      Added.SetBusNumbers(Number, Secondary, 0x20);
      const uint32_t Span = Bridges - Index;
      Added.SetIoWindow(0, Span * 0x1000 - 1);
      Added.SetMemoryWindow(MemoryWindowFirst, MemoryWindowFirst + Span * 0x100000 - 1);
      if (PmAt != 0) {
        Added.Set16(Added.PowerManagementRegister(), 3);
      }
      Bridge.push_back(&Added);
      Bus.push_back(Number);
      On = &Added.Secondary();
      Number = Secondary;
    }
    UartLayout.Kind = UseMmio ? UartLayout.Kind == Sim::PciBarKind::Io ? Sim::PciBarKind::Memory32 : UartLayout.Kind
                              : Sim::PciBarKind::Io;
    UartLayout.PowerManagementAt =
        UartHop().PowerManagementRegister == 0 ? 0 : static_cast<uint8_t>(UartHop().PowerManagementRegister - 4);
    UartLayout.PowerState = UartLayout.PowerManagementAt == 0 ? 0 : 3;
    Uart = &On->Add<Sim::PciUartFunction>(UartHop().Device, UartHop().Function, Target, TargetBase, UartLayout);
    Bus.push_back(Number);
    Host.Refresh();
  }

  Sim::PciFunction& HopFunction(unsigned Index) {
    return Index < Bridges ? static_cast<Sim::PciFunction&>(*Bridge[Index]) : *Uart;
  }
};

// "cfg BB:DD.F +RRR = VALUE" for a configuration write of the hop at
// Bus:Device.Function, in the width of the access.
inline std::string ConfigWrite(uint8_t Bus, const UartPciDevice& At, uint16_t Register, unsigned Size, uint32_t Value) {
  return "cfg " + HexDigits(Bus, 2) + ":" + HexDigits(At.Device, 2) + "." + HexDigits(At.Function, 1) + " +" + HexDigits(Register, 3) + " = " +
         HexDigits(Value, static_cast<int>(Size * 2));
}
inline std::string UartRegisterWrite(uint32_t Address, uint8_t Value) {
  return std::string(UseMmio ? "mem " : "io ") + HexDigits(Address, UseMmio ? 8 : 4) + " = " + HexDigits(Value, 2);
}

// The writes in the trace, in order: configuration writes decoded through
// the 0xCF8 word in force, and every other port or memory write. Reads and
// the 0xCF8 writes themselves are left out.
inline std::vector<std::string> Writes(const std::vector<Sim::BusEvent>& Trace) {
  std::vector<std::string> Found;
  uint32_t Word = 0;
  for (const Sim::BusEvent& Event : Trace) {
    if (Event.What == Sim::BusEvent::Kind::PortOut && Event.Address == 0xCF8 && Event.Size == 4) {
      Word = Event.Value;
    } else if (Event.What == Sim::BusEvent::Kind::PortOut && Event.Address >= 0xCFC && Event.Address <= 0xCFF) {
      const UartPciDevice At{static_cast<UINT8>((Word >> 11) & 0x1F), static_cast<UINT8>((Word >> 8) & 7), 0};
      const auto Register = static_cast<uint16_t>((Word & 0xFC) + (Event.Address - 0xCFC) + ((Word >> 16) & 0xF00));
      Found.push_back(ConfigWrite(static_cast<uint8_t>(Word >> 16), At, Register, Event.Size, Event.Value));
    } else if (Event.What == Sim::BusEvent::Kind::PortOut) {
      Found.push_back("io " + HexDigits(Event.Address, 4) + " = " + HexDigits(Event.Value, 2));
    } else if (Event.What == Sim::BusEvent::Kind::MemoryWrite) {
      Found.push_back("mem " + HexDigits(Event.Address, 8) + " = " + HexDigits(Event.Value, 2));
    }
  }
  return Found;
}
}  // namespace Listed
