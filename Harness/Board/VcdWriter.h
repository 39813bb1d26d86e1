// Writes a Value Change Dump (IEEE 1364, section 18): one-bit wires grouped in
// scopes, and their changes on a 1 ns timescale, given in any order.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace Sim {

// Usage:
//   VcdWriter Dump("board");
//   const auto Tx = Dump.Declare("com1", "com1_tx", true);
//   Dump.Change(1000, Tx, false);   // start bit
//   Dump.Write(Out, EndOfRun);
class VcdWriter {
public:
  using Wire = uint32_t;

  explicit VcdWriter(std::string TopScope) : Top(std::move(TopScope)) {}

  // A wire in a scope under the top one. Scopes list in the order of their
  // first wire, wires in the order declared. Names must be unique in the
  // whole dump: some readers (sigrok 0.5) drop the scopes and keep the names.
  Wire Declare(const std::string& Scope, const std::string& Name, bool Initial);
  // At a moment with several changes of one wire the last one given holds.
  void Change(uint64_t At, Wire Which, bool Level);
  // High from From until To.
  void Pulse(uint64_t From, uint64_t To, Wire Which) {
    Change(From, Which, true);
    Change(To, Which, false);
  }
  size_t Changes() const { return Pending.size(); }

  // The dump up to Until (or the last change, if later); changes that leave
  // a wire as it was are left out. Sorts the changes, so it is not const.
  void Write(std::ostream& Out, uint64_t Until);

  // Identifier codes: printable ASCII from '!' to '~', shortest first.
  static std::string Code(Wire Which);

private:
  struct Declared {
    std::string Scope;
    std::string Name;
    bool Initial;
  };
  struct Event {
    uint64_t At;
    Wire Which;
    bool Level;
  };

  std::string Top;
  std::vector<Declared> Wires;
  std::vector<Event> Pending;
};

}  // namespace Sim
