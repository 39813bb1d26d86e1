// Helpers to read the board's access trace as port sequences.
#pragma once

#include <string>
#include <vector>

#include "Processor.h"

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

// How many times Address was read: the polls of a wait.
inline size_t ReadsOf(const std::vector<BusEvent>& Trace, uint32_t Address) {
  size_t Count = 0;
  for (const BusEvent& Event : Trace) {
    if ((Event.What == Kind::PortIn || Event.What == Kind::MemoryRead) && Event.Address == Address) {
      ++Count;
    }
  }
  return Count;
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

// The trace as a skeleton: "I" for the FIFO test (IIR of 0x3F8), "I2" for
// IIR of 0x2F8 (the second UART answering for itself), "L3"/"L2" for
// a wait on LSR of 0x3F8/0x2F8 that ended with TEMT set, "M3"/"M2" for a
// read of MSR, and the THR writes as "3x"/"2x" with the byte x.
inline std::string Skeleton(const std::vector<BusEvent>& Trace) {
  std::string Text;
  for (size_t At = 0; At < Trace.size(); ++At) {
    const BusEvent& Event = Trace[At];
    if (Event.What == Kind::PortIn && Event.Address == 0x3FA) {
      Text += "I ";
    } else if (Event.What == Kind::PortIn && Event.Address == 0x2FA) {
      Text += "I2 ";
    } else if (Event.What == Kind::PortIn && (Event.Address == 0x3FD || Event.Address == 0x2FD)) {
      const bool LastOfRun = At + 1 == Trace.size() || Trace[At + 1].Address != Event.Address;
      if (LastOfRun) {
        Text += Event.Address == 0x3FD ? "L3" : "L2";
        Text += (Event.Value & 0x40) != 0 ? " " : "? ";
      }
    } else if (Event.What == Kind::PortIn && (Event.Address == 0x3FE || Event.Address == 0x2FE)) {
      Text += Event.Address == 0x3FE ? "M3 " : "M2 ";
    } else if (Event.What == Kind::PortOut && (Event.Address == 0x3F8 || Event.Address == 0x2F8)) {
      Text += Event.Address == 0x3F8 ? '3' : '2';
      Text += static_cast<char>(Event.Value);
      Text += ' ';
    } else {
      Text += "<" + Sim::Describe(Event) + "> ";
    }
  }
  return Text;
}

// What a write of Text in chunks of Chunk bytes looks like; WithFifoTest false
// for builds whose FIFOs are off.
inline std::string ExpectedChunks(const std::string& Text, size_t Chunk, bool WithFifoTest = true) {
  std::string Result;
  for (size_t At = 0; At < Text.size(); ++At) {
    if (At % Chunk == 0) {
      Result += WithFifoTest ? "I L3 L2 " : "L3 L2 ";
    }
    Result += std::string("3") + Text[At] + " 2" + Text[At] + " ";
  }
  return Result;
}
}  // namespace SerialTrace
