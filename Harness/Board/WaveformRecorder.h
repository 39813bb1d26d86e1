// The board's signals as a logic analyser on its pins would take them, for a
// waveform viewer or a protocol decoder: both UARTs' SOUT, their modem lines,
// the interrupt flag, and a mark on every access to each device group.
#pragma once

#include <cstdint>
#include <ostream>
#include <utility>
#include <vector>

#include "Board.h"

namespace Sim {

// Usage:
//   Sim::Board Board;
//   Sim::WaveformRecorder Waves(Board, {.ModemLines = true});
//   ... run the module ...
//   Board.Settle();          // so that every frame has left the line
//   Waves.Write(File);
// Levels are those of the pins: SOUT idles high; RTS#, DTR#, CTS# and DSR#
// are low while asserted.
class WaveformRecorder {
public:
  struct Choices {
    bool ModemLines = false;  // a flow-control build reads CTS and DSR
  };

  WaveformRecorder(Board& Observed, Choices With);
  ~WaveformRecorder();
  WaveformRecorder(const WaveformRecorder&) = delete;
  WaveformRecorder& operator=(const WaveformRecorder&) = delete;

  // A device in front of COM1's model (a PCI function that forwards to it):
  // its accesses are COM1's.
  void CountAsCom1(const PortDevice* Port, const MemoryDevice* Memory);

  // Writes the dump from power-on to now; returns the board time it covers.
  uint64_t Write(std::ostream& Out) const;

  // What the dump marks accesses for, in the order the viewer's tree lists them.
  enum class Group : uint8_t { Cmos, SuperIo, Com1, Com2, PciConfig, DiagnosticPort, Unclaimed };

private:
  struct Access {
    uint64_t Start;
    Group To;
  };
  struct FlagChange {
    uint64_t At;
    bool Enabled;
  };

  void Observe(const BusEvent& Event);
  Group Decoding(const BusEvent& Event) const;

  Board& Observed;
  Choices With;
  bool InitialFlag;
  std::vector<std::pair<const PortDevice*, Group>> PortGroups;
  std::vector<std::pair<const MemoryDevice*, Group>> MemoryGroups;
  std::vector<Access> Accesses;
  std::vector<FlagChange> Flags;
};

}  // namespace Sim
