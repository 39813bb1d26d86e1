// Image mode of the simulated board: the module's PE32 image itself, run
// instruction by instruction on a CPU emulator whose port, device-memory,
// CPUID, interrupt-flag and breakpoint instructions go to the same
// Sim::Processor as the host build's seam, with the stand-in PEI Foundation
// behind a services table in the module's own address space.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ImageMap.h"
#include "PeLoader.h"
#include "PeiFoundation.h"
#include "Processor.h"

namespace ImageMode {

// Where things sit in the module's address space: low memory, away from the
// device windows at the top of the 4 GiB space.
namespace Guest {
inline constexpr uint32_t StackFirst = 0x00100000;
inline constexpr uint32_t StackBytes = 64 * 1024;
inline constexpr uint32_t StackTop = StackFirst + StackBytes;
inline constexpr uint32_t ServicesAt = 0x00200000;  // PeiServices, then the table
inline constexpr uint32_t TrapsAt = 0x00201000;     // one stub per service, and the return of a call
inline constexpr uint32_t ScratchAt = 0x00300000;   // arguments that a harness hands to a routine
inline constexpr uint32_t ScratchBytes = 64 * 1024;
inline constexpr uint32_t PoolAt = 0x00400000;
inline constexpr uint32_t PoolBytes = 16 * 1024;
inline constexpr uint32_t ImageAt = 0x00800000;  // the linked base is 0, so every fix-up is applied
inline constexpr uint32_t ImageRoom = 1u << 20;
// A rebased image runs where it was rebased to: at or above ImageAt, since
// the memory below holds the stack, the services and the pool.
inline constexpr uint32_t RebasedFirst = ImageAt;
inline constexpr uint32_t FileHandle = 0x0F11E000;  // passed through by the module, never used
}  // namespace Guest

// The file is no image this board can run; what() is one line naming why.
class BadImage : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The run was stopped: a write to the image or to the pool outside the
// blocks handed out, a fetch outside the image, an access to unmapped
// memory, an unexpected service call, an exception, a broken calling
// convention or a runaway. what() says where, in guest terms.
class ImageFault : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Reads a file as an image; throws BadImage when it cannot be read (the
// caller names the file).
std::vector<uint8_t> ReadImageFile(const std::string& Path);

class ImageMachine {
public:
  // Places File where it runs: in place at the address a flash-layout step
  // rebased it to, or at ImageAt with its fix-ups applied when its base is 0
  // as linked. Throws BadImage with the loader's reason.
  ImageMachine(Sim::Processor& Board, const std::vector<uint8_t>& File);
  ~ImageMachine();
  ImageMachine(const ImageMachine&) = delete;
  ImageMachine& operator=(const ImageMachine&) = delete;

  // The map names routines for Call and for fault reports.
  void UseMap(ImageMap Map) { Symbols = std::move(Map); }
  const ImageMap& Map() const { return Symbols; }
  const LoadedImage& Image() const { return Placed; }

  // The stand-in PEI Foundation, its pool and services table in guest memory.
  void StartFoundation(uint32_t Revision, const Pei::FailureSwitches& Fail = Pei::FailureSwitches::None());
  Pei::Foundation& Foundation() { return Services; }
  const Pei::Foundation& Foundation() const { return Services; }
  void SetRevision(uint32_t Revision);
  uint32_t PeiServices() const { return Guest::ServicesAt; }

  // ModuleEntry(FileHandle, PeiServices), as the PEI Foundation calls it.
  // A stall of the board is thrown as Sim::BoardStall, a fault as ImageFault.
  EFI_STATUS RunModuleEntry();
  // Any routine of the image, cdecl with 32-bit arguments; returns EAX.
  uint32_t Call(uint32_t Address, const std::vector<uint32_t>& Arguments);
  // A routine by name from the map; throws ImageFault when it is not there.
  uint32_t Routine(const std::string& Name) const;

  // Scratch memory for arguments: Put copies bytes and returns their address.
  uint32_t Put(const void* Bytes, uint32_t Size);
  uint32_t Put(const std::string& Text) { return Put(Text.c_str(), static_cast<uint32_t>(Text.size() + 1)); }
  void ClearScratch() { ScratchUsed = 0; }
  bool Read(uint32_t Address, void* Into, uint32_t Size) const;
  std::string ReadText(uint32_t Address, uint32_t Limit = 4096) const;

  // Lets the module's pointers reach this process's own memory (pages are
  // mapped at their own addresses on first touch), so a benchmark can hand
  // the image a host argument list as it is. Off for board runs.
  bool HostMemoryVisible = false;
  // Instructions after which a call counts as a runaway.
  uint64_t InstructionLimit = 500000000;

  // Figures of the last call.
  uint64_t Instructions() const { return Executed; }
  uint32_t DeepestStack() const;  // bytes of the painted stack ever written

  // "0x00800123 (RVA 0x123, .text, PublishVersionString+0x23)".
  std::string Where(uint32_t Address) const;

  struct State;  // the emulator and what its hooks share
  // Makes the board's device memory windows reachable from the module.
  void MapDeviceWindows();

private:
  uint32_t Run(uint32_t Address, const std::vector<uint32_t>& Arguments);

  Sim::Processor& Board;
  LoadedImage Placed{};
  ImageMap Symbols;
  Pei::Foundation Services;
  std::unique_ptr<State> Emulator;
  uint32_t ScratchUsed = 0;
  uint64_t Executed = 0;
};

}  // namespace ImageMode
