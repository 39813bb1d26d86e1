// Helpers to read the board's access trace as port sequences.
#pragma once

#include <string>
#include <vector>

#include "Board.h"

namespace SerialTrace {
using Sim::BusEvent;
using Kind = Sim::BusEvent::Kind;

inline BusEvent In(uint32_t Port, uint32_t Value) { return {Kind::PortIn, 1, Port, Value}; }
inline BusEvent Out(uint32_t Port, uint32_t Value) { return {Kind::PortOut, 1, Port, Value}; }
inline BusEvent Read(uint32_t Address, uint32_t Value) { return {Kind::MemoryRead, 1, Address, Value}; }
inline BusEvent Write(uint32_t Address, uint32_t Value) { return {Kind::MemoryWrite, 1, Address, Value}; }

inline bool Within(const BusEvent& Event, uint32_t First, uint32_t Last) {
  return Event.Address >= First && Event.Address <= Last;
}

// The events that touch First..Last, in order.
inline std::vector<BusEvent> Touching(const std::vector<BusEvent>& Trace, uint32_t First, uint32_t Last) {
  std::vector<BusEvent> Selected;
  for (const BusEvent& Event : Trace) {
    if (Within(Event, First, Last)) {
      Selected.push_back(Event);
    }
  }
  return Selected;
}

// The same, with runs of identical reads (polling) folded into one.
inline std::vector<BusEvent> Folded(const std::vector<BusEvent>& Events) {
  std::vector<BusEvent> Result;
  for (const BusEvent& Event : Events) {
    const bool IsRead = Event.What == Kind::PortIn || Event.What == Kind::MemoryRead;
    if (IsRead && !Result.empty() && Result.back() == Event) {
      continue;
    }
    Result.push_back(Event);
  }
  return Result;
}

// Only the writes.
inline std::vector<BusEvent> Writes(const std::vector<BusEvent>& Events) {
  std::vector<BusEvent> Result;
  for (const BusEvent& Event : Events) {
    if (Event.What == Kind::PortOut || Event.What == Kind::MemoryWrite) {
      Result.push_back(Event);
    }
  }
  return Result;
}

// A readable listing for failure messages.
inline std::string Listing(const std::vector<BusEvent>& Events) {
  std::string Text;
  for (const BusEvent& Event : Events) {
    Text += Sim::Describe(Event) + "\n";
  }
  return Text;
}
}  // namespace SerialTrace
