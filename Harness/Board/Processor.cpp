// The simulated board's bus, processor state, debugger and watchdog.
#include "Processor.h"

#include <cstdio>
#include <cstring>

namespace Sim {
namespace {
// A poll with no address of its own (a flag on the module's stack, whose
// address means nothing outside the run).
constexpr uint32_t Unaddressed = 0xFFFFFFFF;
Processor* CurrentProcessor = nullptr;

uint32_t AllOnes(unsigned Size) { return Size >= 4 ? 0xFFFFFFFFu : (1u << (Size * 8)) - 1; }
}  // namespace

std::string Describe(const BusEvent& Event) {
  static const char* const Names[] = {"in", "out", "read", "write", "cli", "sti", "cpuid", "int3"};
  char Text[64];
  switch (Event.What) {
    case BusEvent::Kind::PortIn:
    case BusEvent::Kind::PortOut:
      std::snprintf(Text, sizeof Text, "%-5s %u 0x%04X 0x%0*X", Names[static_cast<int>(Event.What)], Event.Size * 8u,
                    Event.Address, Event.Size * 2, Event.Value);
      break;
    case BusEvent::Kind::MemoryRead:
    case BusEvent::Kind::MemoryWrite:
      std::snprintf(Text, sizeof Text, "%-5s 8 [0x%08X] 0x%02X", Names[static_cast<int>(Event.What)], Event.Address,
                    Event.Value);
      break;
    case BusEvent::Kind::CpuId:
      std::snprintf(Text, sizeof Text, "cpuid leaf 0x%X", Event.Address);
      break;
    default:
      std::snprintf(Text, sizeof Text, "%s", Names[static_cast<int>(Event.What)]);
      break;
  }
  return Text;
}

Processor::Processor() {
  if (CurrentProcessor != nullptr) {
    throw std::logic_error("only one simulated board may exist at a time");
  }
  CurrentProcessor = this;
}

Processor::~Processor() { CurrentProcessor = nullptr; }

Processor& Processor::Current() {
  if (CurrentProcessor == nullptr) {
    throw std::logic_error("the module touched hardware while no simulated board exists");
  }
  return *CurrentProcessor;
}

bool Processor::Exists() { return CurrentProcessor != nullptr; }

void Processor::MapPorts(uint16_t First, uint16_t Last, PortDevice& Device) { Ports.push_back({First, Last, &Device}); }

void Processor::UnmapPorts(PortDevice& Device) {
  std::erase_if(Ports, [&](const PortRange& Range) { return Range.Device == &Device; });
}

void Processor::MapMemory(uint32_t First, uint32_t Last, MemoryDevice& Device) {
  Memory.push_back({First, Last, &Device});
}

void Processor::UnmapMemory(MemoryDevice& Device) {
  std::erase_if(Memory, [&](const MemoryRange& Range) { return Range.Device == &Device; });
}

PortDevice* Processor::PortOwner(uint16_t Port) const {
  for (auto Range = Ports.rbegin(); Range != Ports.rend(); ++Range) {
    if (Port >= Range->First && Port <= Range->Last) {
      return Range->Device;
    }
  }
  return nullptr;
}

MemoryDevice* Processor::MemoryOwner(uint32_t Address) const {
  for (auto Range = Memory.rbegin(); Range != Memory.rend(); ++Range) {
    if (Address >= Range->First && Address <= Range->Last) {
      return Range->Device;
    }
  }
  return nullptr;
}

void Processor::Record(BusEvent::Kind What, uint8_t Size, uint32_t Address, uint32_t Value) {
  const BusEvent Event{What, Size, Address, Value};
  if (Tracing) {
    Events.push_back(Event);
  }
  if (Observer) {
    Observer(Event);
  }
}

void Processor::Poll(const char* What, uint32_t Address) {
  // A poll repeats the access before the last one: one register again and
  // again, or two in turn (a wait on either of two UARTs). Any other access
  // means the module has moved on.
  const bool Repeats =
      Before[1].What != nullptr && std::strcmp(What, Before[1].What) == 0 && Address == Before[1].Address;
  Before[1] = Before[0];
  Before[0] = {What, Address};
  if (!Repeats) {
    PollsWithoutProgress = 0;
  }
  if (WatchdogPolls != 0 && ++PollsWithoutProgress > WatchdogPolls) {
    char Last[64];
    if (Address == Unaddressed) {
      std::snprintf(Last, sizeof Last, "%s", What);
    } else {
      std::snprintf(Last, sizeof Last, "%s 0x%X", What, Address);
    }
    char Message[160];
    std::snprintf(Message, sizeof Message,
                  "board watchdog: %llu accesses polling without any device making progress (last: %s)",
                  static_cast<unsigned long long>(PollsWithoutProgress - 1), Last);
    PollsWithoutProgress = 0;
    throw BoardStall(Message);
  }
}

void Processor::Poll(const char* What) { Poll(What, Unaddressed); }

uint32_t Processor::PortIn(uint16_t Port, unsigned Size) {
  Nanoseconds += AccessNanoseconds;
  ++PortAccessCount;
  Poll("port read", Port);
  PortDevice* Owner = PortOwner(Port);
  const uint32_t Value = Owner != nullptr ? Owner->PortRead(Port, Size) & AllOnes(Size) : AllOnes(Size);
  Record(BusEvent::Kind::PortIn, static_cast<uint8_t>(Size), Port, Value);
  return Value;
}

void Processor::PortOut(uint16_t Port, unsigned Size, uint32_t Value) {
  Nanoseconds += AccessNanoseconds;
  ++PortAccessCount;
  Poll("port write", Port);
  Value &= AllOnes(Size);
  Record(BusEvent::Kind::PortOut, static_cast<uint8_t>(Size), Port, Value);
  if (PortDevice* Owner = PortOwner(Port)) {
    Owner->PortWrite(Port, Size, Value);
  }
}

uint8_t Processor::DeviceRead(uint32_t Address) {
  MemoryDevice* Owner = MemoryOwner(Address);
  if (Owner == nullptr) {
    throw std::logic_error("no device decodes this memory address");
  }
  Nanoseconds += AccessNanoseconds;
  Poll("memory read", Address);
  const uint8_t Value = Owner->MemoryRead(Address);
  Record(BusEvent::Kind::MemoryRead, 1, Address, Value);
  return Value;
}

void Processor::DeviceWrite(uint32_t Address, uint8_t Value) {
  MemoryDevice* Owner = MemoryOwner(Address);
  if (Owner == nullptr) {
    throw std::logic_error("no device decodes this memory address");
  }
  Nanoseconds += AccessNanoseconds;
  Poll("memory write", Address);
  Record(BusEvent::Kind::MemoryWrite, 1, Address, Value);
  Owner->MemoryWrite(Address, Value);
}

// The flag lives on the module's stack, whose address means nothing outside
// the run, so the watchdog names it instead.
uint8_t Processor::PollFlag(uint32_t Address, uint8_t Value, const std::function<void(uint8_t)>& Release) {
  Poll("poll of the halt routine's flag");
  if (!Spinning || Address != SpinAddress) {
    Spinning = true;
    SpinAddress = Address;
    SpinPolls = 0;
  }
  ++SpinPolls;
  if (Value == 0 && SpinPollsBeforeRelease != 0 && SpinPolls >= SpinPollsBeforeRelease) {
    Release(1);
    Value = 1;
    ++SpinReleaseCount;
    Spinning = false;
    NoteProgress();
  }
  return Value;
}

uint8_t Processor::MemoryIn(const volatile uint8_t* Address) {
  const auto Linear = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Address));
  if (MemoryOwner(Linear) != nullptr) {
    return DeviceRead(Linear);
  }
  // Plain memory: only a spin on a flag reads memory through the seam.
  return PollFlag(Linear, *Address, [Address](uint8_t Value) { *const_cast<volatile uint8_t*>(Address) = Value; });
}

void Processor::MemoryOut(volatile uint8_t* Address, uint8_t Value) {
  const auto Linear = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Address));
  if (MemoryOwner(Linear) != nullptr) {
    DeviceWrite(Linear, Value);
    return;
  }
  *Address = Value;
}

std::vector<Processor::MemoryWindow> Processor::MemoryWindows() const {
  std::vector<MemoryWindow> Windows;
  for (const MemoryRange& Range : Memory) {
    Windows.push_back({Range.First, Range.Last});
  }
  return Windows;
}

void Processor::SetInterruptFlag(bool Enabled) {
  InterruptFlag = Enabled;
  Record(Enabled ? BusEvent::Kind::InterruptsOn : BusEvent::Kind::InterruptsOff, 0, 0, 0);
}

void Processor::CpuId(uint32_t Leaf, uint32_t& Eax, uint32_t& Ebx, uint32_t& Ecx, uint32_t& Edx) {
  ++CpuIdCount;
  Record(BusEvent::Kind::CpuId, 0, Leaf, 0);
  Eax = Ecx = Edx = 0;
  Ebx = Leaf == 1 ? CpuIdLeaf1Ebx : 0;
  if (Leaf == 1) {
    Eax = 0x000306A9;  // family 6; the module reads only EBX
  }
}

void Processor::Int3() {
  ++BreakpointCount;
  Record(BusEvent::Kind::Breakpoint, 0, 0, 0);
  if (OnBreakpoint) {
    OnBreakpoint();
  }
}

}  // namespace Sim
