// What the image machine's rooms share: the emulator, the guest memory behind
// it, the state of the current run, and the guard every emulator hook runs
// its board access in. Private to image mode.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "ImageMachine.h"
#include "Pi/PeiServices.h"

namespace ImageMode {

inline constexpr uint32_t PageBytes = 4096;
inline constexpr uint32_t EflagsReserved = 0x2;
inline constexpr uint32_t EflagsInterrupt = 0x200;
inline constexpr uint32_t EflagsDirection = 0x400;
inline constexpr uint8_t StackPaint = 0xA5;

// The services table: PeiServices points at a word that holds the table's
// address; each service entry is a stub of its own in the trap page, and a
// call returns to the address after the last stub.
inline constexpr uint32_t TableAt = Guest::ServicesAt + 16;
inline constexpr uint32_t TrapStride = 16;
inline constexpr uint32_t ServiceCount = (sizeof(EFI_PEI_SERVICES) - sizeof(EFI_TABLE_HEADER)) / 4;
inline constexpr uint32_t ReturnAt = Guest::TrapsAt + ServiceCount * TrapStride;
static_assert(ReturnAt < Guest::TrapsAt + PageBytes);

// Page-aligned memory that the emulator maps as the module's memory.
struct Pages {
  explicit Pages(uint32_t Bytes, uint8_t Fill = 0)
      : Size(Bytes), Data(static_cast<uint8_t*>(std::aligned_alloc(PageBytes, Bytes))) {
    if (Data == nullptr) {
      throw std::bad_alloc();
    }
    std::memset(Data, Fill, Bytes);
  }
  ~Pages() { std::free(Data); }
  Pages(const Pages&) = delete;
  Pages& operator=(const Pages&) = delete;
  uint32_t Size;
  uint8_t* Data;
};

struct ImageMachine::State {
  explicit State(ImageMachine& Machine);
  ~State() {
    if (Uc != nullptr) {
      uc_close(Uc);
    }
  }

  ImageMachine& Owner;
  uc_engine* Uc = nullptr;
  Pages Image;
  Pages Stack;
  Pages Services;
  Pages Traps;  // every byte a ret: a service stub returns after its hook ran
  Pages Scratch;
  Pages Pool;

  // A device window of the board, and where the emulator reaches it.
  struct Window {
    State* Machine;
    uint32_t Base;
  };
  std::vector<std::unique_ptr<Window>> Windows;

  // The current run.
  std::optional<std::string> Fault;
  std::optional<std::string> Stall;
  bool Halting = false;  // between the halt routine's two codes
  uint64_t Count = 0;
  uint64_t Limit = 0;

  Sim::Processor& Board() { return Owner.Board; }
  bool Stopped() const { return Fault || Stall; }
  void Stop() { uc_emu_stop(Uc); }
  void StopWithFault(const std::string& Text) {
    if (!Stopped()) {
      Fault = Text;
    }
    Stop();
  }
  void StopWithStall(const Sim::BoardStall& Stalled) {
    if (!Stopped()) {
      Stall = Stalled.what();
    }
    Stop();
  }
  uint32_t Register(uc_x86_reg Which) const {
    uint32_t Value = 0;
    uc_reg_read(Uc, Which, &Value);
    return Value;
  }
  void SetRegister(uc_x86_reg Which, uint32_t Value) { uc_reg_write(Uc, Which, &Value); }
  uint32_t Eip() const { return Register(UC_X86_REG_EIP); }

  // The bytes of the instruction at Address, as far as they can be read.
  std::string InstructionAt(uint32_t Address) const;
  std::string ByInstruction() const {
    const uint32_t At = Eip();
    return " by the instruction at " + Owner.Where(At) + ", whose bytes start " + InstructionAt(At);
  }

  // The guest map (GuestMap.cpp).
  void MapGuestMemory(uint32_t RunAddress, uint32_t ImagePages);
  bool InGuestLayout(uint32_t Address) const;
  bool ShowHostPage(uint32_t Address);  // a page of this process at its own address (benchmarks)

  // The hooks (Hooks.cpp) and the services trap (ServicesTrap.cpp).
  void InstallHooks(uint32_t RunAddress, uint32_t ImagePages);
  void Service(uint32_t Index);
};

// The board's device windows, as the emulator reaches them (Hooks.cpp).
uint64_t OnDeviceRead(uc_engine*, uint64_t Offset, unsigned Size, void* User);
void OnDeviceWrite(uc_engine*, uint64_t Offset, unsigned Size, uint64_t Value, void* User);

// Runs a hook's work. An emulator hook must not let an exception through
// into the emulator: a stall of the board and a failure of a model stop the
// run with their report instead (a fault already in the guest's terms as it
// is), and the hook then answers Fallback.
template <typename T, typename Work>
T Guarded(ImageMachine::State& Machine, T Fallback, Work&& Do) {
  try {
    return Do();
  } catch (const Sim::BoardStall& Stalled) {
    Machine.StopWithStall(Stalled);
  } catch (const ImageFault& Fault) {
    Machine.StopWithFault(Fault.what());
  } catch (const std::exception& Failure) {
    Machine.StopWithFault(std::string("the board model failed: ") + Failure.what());
  }
  return Fallback;
}

}  // namespace ImageMode
