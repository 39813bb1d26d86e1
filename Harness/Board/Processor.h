// The processor as the module sees it: the port bus and the memory-mapped space
// that device models plug into, its interrupt flag and CPUID, a debugger, a
// clock and a watchdog. The host build's instruction seam calls into the
// current processor.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Sim {

// What the seam did, in the order it did it.
struct BusEvent {
  enum class Kind : uint8_t { PortIn, PortOut, MemoryRead, MemoryWrite, InterruptsOff, InterruptsOn, CpuId, Breakpoint };
  Kind What;
  uint8_t Size;      // bytes, for port and memory accesses
  uint32_t Address;  // port number, memory address or CPUID leaf
  uint32_t Value;

  bool operator==(const BusEvent&) const = default;
};

std::string Describe(const BusEvent& Event);

// A device that decodes a range of I/O ports. Size is 1, 2 or 4 bytes.
class PortDevice {
public:
  virtual ~PortDevice() = default;
  virtual uint32_t PortRead(uint16_t Port, unsigned Size) = 0;
  virtual void PortWrite(uint16_t Port, unsigned Size, uint32_t Value) = 0;
};

// A device that decodes a range of memory addresses, byte by byte.
class MemoryDevice {
public:
  virtual ~MemoryDevice() = default;
  virtual uint8_t MemoryRead(uint32_t Address) = 0;
  virtual void MemoryWrite(uint32_t Address, uint8_t Value) = 0;
};

// Thrown when the module keeps polling while no device makes progress: the
// stall that a real board would show as a hang.
class BoardStall : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class Processor {
public:
  Processor();
  ~Processor();
  Processor(const Processor&) = delete;
  Processor& operator=(const Processor&) = delete;

  // The processor the seam talks to; exactly one exists at a time.
  static Processor& Current();
  static bool Exists();

  // Devices. A later mapping of the same port takes precedence, so a test can
  // put a device in front of another one.
  void MapPorts(uint16_t First, uint16_t Last, PortDevice& Device);
  void UnmapPorts(PortDevice& Device);
  void MapMemory(uint32_t First, uint32_t Last, MemoryDevice& Device);
  void UnmapMemory(MemoryDevice& Device);

  // Bus cycles, as the seam issues them.
  uint32_t PortIn(uint16_t Port, unsigned Size);
  void PortOut(uint16_t Port, unsigned Size, uint32_t Value);
  uint8_t MemoryIn(const volatile uint8_t* Address);
  void MemoryOut(volatile uint8_t* Address, uint8_t Value);

  // The same cycles by address, for a module that runs in another address
  // space (the image on the CPU emulator): device memory by its bus address,
  // and a poll of plain memory, which only the halt routine's spin makes.
  bool DecodesMemory(uint32_t Address) const { return MemoryOwner(Address) != nullptr; }
  uint8_t DeviceRead(uint32_t Address);
  void DeviceWrite(uint32_t Address, uint8_t Value);
  // Value is what the flag holds now; the debugger calls Release to set it.
  // Returns the value the poll reads.
  uint8_t PollFlag(uint32_t Address, uint8_t Value, const std::function<void(uint8_t)>& Release);
  struct MemoryWindow {
    uint32_t First;
    uint32_t Last;
  };
  std::vector<MemoryWindow> MemoryWindows() const;
  // The device that decodes a port or an address now (none: nothing answers).
  const PortDevice* PortDecoder(uint16_t Port) const { return PortOwner(Port); }
  const MemoryDevice* MemoryDecoder(uint32_t Address) const { return MemoryOwner(Address); }

  // Processor.
  bool InterruptFlag = false;
  uint32_t CpuIdLeaf1Ebx = 0x00000800;  // APIC ID 0, one logical processor
  void SetInterruptFlag(bool Enabled);
  void CpuId(uint32_t Leaf, uint32_t& Eax, uint32_t& Ebx, uint32_t& Ecx, uint32_t& Edx);
  unsigned CpuIdQueries() const { return CpuIdCount; }

  // The debugger: a breakpoint is recorded and resumed; a spin on a memory
  // flag is ended after SpinPollsBeforeRelease polls by writing 1 to the flag,
  // as a person at a debugger would (0 leaves the spin to the watchdog).
  void Int3();
  unsigned Breakpoints() const { return BreakpointCount; }
  std::function<void()> OnBreakpoint;
  uint64_t SpinPollsBeforeRelease = 1000;
  unsigned SpinsReleased() const { return SpinReleaseCount; }

  // Trace of every seam event; on by default.
  bool Tracing = true;
  // Told of every seam event as it happens, whether or not Tracing is on: a
  // recorder that needs the board clock at each access reads Now() there.
  std::function<void(const BusEvent&)> Observer;
  const std::vector<BusEvent>& Trace() const { return Events; }
  void ClearTrace() { Events.clear(); }
  uint64_t PortAccesses() const { return PortAccessCount; }

  // Time: every port or device-memory access takes AccessNanoseconds.
  uint64_t AccessNanoseconds = 1000;
  uint64_t Now() const { return Nanoseconds; }
  void Elapse(uint64_t Duration) { Nanoseconds += Duration; }

  // Watchdog: a device calls NoteProgress when its state moves on by itself
  // (a character leaves the line); a poll (accesses that repeat one address,
  // or two in turn) that goes on beyond the limit without progress ends the
  // run with BoardStall. Any other access means the module has moved on, so
  // a wait that gives up after a bound does not trip it, however often it
  // recurs.
  uint64_t WatchdogPolls = 2000000;
  void NoteProgress() { PollsWithoutProgress = 0; }

private:
  struct PortRange {
    uint16_t First;
    uint16_t Last;
    PortDevice* Device;
  };
  struct MemoryRange {
    uint32_t First;
    uint32_t Last;
    MemoryDevice* Device;
  };

  void Record(BusEvent::Kind What, uint8_t Size, uint32_t Address, uint32_t Value);
  void Poll(const char* What, uint32_t Address);
  void Poll(const char* What);
  PortDevice* PortOwner(uint16_t Port) const;
  MemoryDevice* MemoryOwner(uint32_t Address) const;

  std::vector<PortRange> Ports;
  std::vector<MemoryRange> Memory;
  std::vector<BusEvent> Events;
  uint64_t PortAccessCount = 0;
  uint64_t Nanoseconds = 0;
  uint64_t PollsWithoutProgress = 0;
  struct Access {
    const char* What;
    uint32_t Address;
  };
  Access Before[2]{};  // the last access, and the one before it
  unsigned CpuIdCount = 0;
  unsigned BreakpointCount = 0;
  unsigned SpinReleaseCount = 0;
  uint32_t SpinAddress = 0;
  bool Spinning = false;
  uint64_t SpinPolls = 0;
};

}  // namespace Sim
