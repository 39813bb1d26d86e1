// The emulator's hooks: the instructions that reach the board (in, out,
// cpuid, cli, sti, pushfd, int3, hlt), device memory, the halt routine's
// flag, the pool's blocks and the memory faults. Each runs its work in the
// guard, so a stall or a model's failure becomes the run's stop report.
#include <iterator>
#include <string>

#include "HexField.h"
#include "Library/HaltCodes.h"
#include "MachineState.h"

namespace ImageMode {
namespace {
using State = ImageMachine::State;

State& From(void* User) { return *static_cast<State*>(User); }

const char* ExceptionName(uint32_t Vector) {
  static const char* const Names[] = {"#DE divide error", "#DB debug", "NMI", "#BP breakpoint", "#OF overflow",
                                      "#BR bound range", "#UD invalid opcode", "#NM no math coprocessor",
                                      "#DF double fault", "coprocessor segment overrun", "#TS invalid TSS",
                                      "#NP segment not present", "#SS stack fault", "#GP general protection",
                                      "#PF page fault", "reserved", "#MF x87 error", "#AC alignment check",
                                      "#MC machine check", "#XM SIMD error"};
  return Vector < std::size(Names) ? Names[Vector] : "software interrupt";
}

std::string Counted(int Size) { return std::to_string(Size) + (Size == 1 ? " byte" : " bytes"); }

void OnImageInstruction(uc_engine*, uint64_t Address, uint32_t, void* User) {
  State& Machine = From(User);
  if (Machine.Stopped()) {
    return;
  }
  Guarded(Machine, 0, [&] {
    if (++Machine.Count > Machine.Limit) {
      Machine.StopWithFault("no return after " + std::to_string(Machine.Limit) + " instructions (a runaway), at " +
                            Machine.Owner.Where(static_cast<uint32_t>(Address)));
      return 0;
    }
    const uint32_t Offset = static_cast<uint32_t>(Address) - Machine.Owner.Image().Address;
    if (Offset >= Guest::ImageRoom) {
      return 0;
    }
    // The emulator carries out cli and sti on its own flag; the board's flag
    // and its trace follow here, and pushfd reads the board's flag, which a
    // test's debugger may have changed meanwhile.
    switch (Machine.Image.Data[Offset]) {
      case 0xFA:
        Machine.Board().SetInterruptFlag(false);
        break;
      case 0xFB:
        Machine.Board().SetInterruptFlag(true);
        break;
      case 0x9C: {
        const uint32_t Flags = Machine.Register(UC_X86_REG_EFLAGS);
        const uint32_t Wanted = (Flags & ~EflagsInterrupt) | (Machine.Board().InterruptFlag ? EflagsInterrupt : 0);
        if (Wanted != Flags) {
          Machine.SetRegister(UC_X86_REG_EFLAGS, Wanted);
        }
        break;
      }
      case 0xF4:
        Machine.StopWithFault("hlt at " + Machine.Owner.Where(static_cast<uint32_t>(Address)) +
                              ": nothing would wake the processor");
        break;
      default:
        break;
    }
    return 0;
  });
}

void OnTrap(uc_engine*, uint64_t Address, uint32_t, void* User) {
  State& Machine = From(User);
  const auto At = static_cast<uint32_t>(Address);
  if (Machine.Stopped() || At == ReturnAt) {
    return;
  }
  Guarded(Machine, 0, [&] {
    if ((At - Guest::TrapsAt) % TrapStride != 0 || (At - Guest::TrapsAt) / TrapStride >= ServiceCount) {
      Machine.StopWithFault("a jump into the services trap page at " + HexField(At));
    } else {
      Machine.Service((At - Guest::TrapsAt) / TrapStride);
    }
    return 0;
  });
}

void OnInterrupt(uc_engine*, uint32_t Vector, void* User) {
  State& Machine = From(User);
  if (Machine.Stopped()) {
    return;
  }
  Guarded(Machine, 0, [&] {
    if (Vector == 3) {
      // The board's debugger counts the trap and resumes after it.
      Machine.Board().Int3();
    } else {
      Machine.StopWithFault("exception " + std::to_string(Vector) + " (" + ExceptionName(Vector) + ") at " +
                            Machine.Owner.Where(Machine.Eip()) + ", whose bytes start " +
                            Machine.InstructionAt(Machine.Eip()));
    }
    return 0;
  });
}

uint32_t OnPortIn(uc_engine*, uint32_t Port, int Size, void* User) {
  State& Machine = From(User);
  const uint32_t AllOnes = Size >= 4 ? 0xFFFFFFFFu : (1u << (Size * 8)) - 1;
  if (Machine.Stopped()) {
    return AllOnes;
  }
  return Guarded(Machine, AllOnes,
                 [&] { return Machine.Board().PortIn(static_cast<uint16_t>(Port), static_cast<unsigned>(Size)); });
}

void OnPortOut(uc_engine*, uint32_t Port, int Size, uint32_t Value, void* User) {
  State& Machine = From(User);
  if (Machine.Stopped()) {
    return;
  }
  Guarded(Machine, 0, [&] {
    Machine.Board().PortOut(static_cast<uint16_t>(Port), static_cast<unsigned>(Size), Value);
    // The halt routine's spin reads a flag on its stack; the board's debugger
    // watches those reads from the "Loop" code to the "LEnd" code.
    if (Port == HaltCodePort && Size == 4) {
      if (Value == HaltEnterCode) {
        Machine.Halting = true;
      } else if (Value == HaltLeaveCode) {
        Machine.Halting = false;
      }
    }
    return 0;
  });
}

int OnCpuId(uc_engine*, void* User) {
  State& Machine = From(User);
  Guarded(Machine, 0, [&] {
    uint32_t Eax = 0, Ebx = 0, Ecx = 0, Edx = 0;
    Machine.Board().CpuId(Machine.Register(UC_X86_REG_EAX), Eax, Ebx, Ecx, Edx);
    Machine.SetRegister(UC_X86_REG_EAX, Eax);
    Machine.SetRegister(UC_X86_REG_EBX, Ebx);
    Machine.SetRegister(UC_X86_REG_ECX, Ecx);
    Machine.SetRegister(UC_X86_REG_EDX, Edx);
    return 0;
  });
  return 1;  // answered here, not by the emulator's own processor
}

void OnStackRead(uc_engine*, uc_mem_type, uint64_t Address, int Size, int64_t, void* User) {
  State& Machine = From(User);
  if (!Machine.Halting || Size != 1 || Machine.Stopped()) {
    return;
  }
  uint8_t* Flag = Machine.Stack.Data + (static_cast<uint32_t>(Address) - Guest::StackFirst);
  Guarded(Machine, 0, [&] {
    // The hook runs before the read, so the released value is what it reads.
    Machine.Board().PollFlag(static_cast<uint32_t>(Address), *Flag, [Flag](uint8_t Value) { *Flag = Value; });
    return 0;
  });
}

// The pool is the module's only memory besides its stack, and only the
// blocks it was given are its own.
void OnPoolWrite(uc_engine*, uc_mem_type, uint64_t Address, int Size, int64_t Value, void* User) {
  State& Machine = From(User);
  if (Machine.Stopped()) {
    return;
  }
  Guarded(Machine, 0, [&] {
    const auto At = static_cast<uint32_t>(Address);
    const Pei::Foundation& Foundation = Machine.Owner.Foundation();
    std::string Blocks;
    for (UINT32 Index = 0; Index < Foundation.BlockCount(); ++Index) {
      const Pei::Foundation::Block Block = Foundation.BlockAt(Index);
      if (At >= Block.At && At - Block.At + static_cast<uint32_t>(Size) <= Block.Size) {
        return 0;
      }
      Blocks += (Blocks.empty() ? "" : ", ") + HexField(Block.At) + " " + std::to_string(Block.Size) + " bytes";
    }
    Machine.StopWithFault("write of " + Counted(Size) + " (" + HexField(static_cast<uint32_t>(Value), Size * 2) +
                          ") to the pool at " + HexField(At) + ", outside the blocks it handed out (" +
                          (Blocks.empty() ? "none" : Blocks) + ")" + Machine.ByInstruction());
    return 0;
  });
}

bool OnInvalidMemory(uc_engine*, uc_mem_type Type, uint64_t Address, int Size, int64_t Value, void* User) {
  State& Machine = From(User);
  return Guarded(Machine, false, [&] {
    const auto At = static_cast<uint32_t>(Address);
    const bool Unmapped =
        Type == UC_MEM_READ_UNMAPPED || Type == UC_MEM_WRITE_UNMAPPED || Type == UC_MEM_FETCH_UNMAPPED;
    if (Unmapped && Type != UC_MEM_FETCH_UNMAPPED && Machine.Board().DecodesMemory(At)) {
      // A device placed itself during the run (a PCI function whose way was opened).
      Machine.Owner.MapDeviceWindows();
      return true;
    }
    if (Unmapped && Type != UC_MEM_FETCH_UNMAPPED && Machine.Owner.HostMemoryVisible && Machine.ShowHostPage(At)) {
      return true;
    }
    const bool InImage = ::InImage(Machine.Owner.Image(), At, 1);
    std::string Text;
    switch (Type) {
      case UC_MEM_WRITE_PROT:
        Text = "write of " + Counted(Size) + " (" + HexField(static_cast<uint32_t>(Value), Size * 2) + ") to " +
               (InImage ? "the read-only image at " : "read-only memory at ") + Machine.Owner.Where(At) +
               Machine.ByInstruction();
        break;
      case UC_MEM_FETCH_PROT:
      case UC_MEM_FETCH_UNMAPPED:
        Text = "fetch outside the image at " + Machine.Owner.Where(At) +
               (Type == UC_MEM_FETCH_UNMAPPED ? " (unmapped memory)" : " (memory that is not code)");
        break;
      case UC_MEM_READ_PROT:
      case UC_MEM_READ_UNMAPPED:
        Text = "read of " + Counted(Size) + " from unmapped memory at " + Machine.Owner.Where(At) +
               Machine.ByInstruction();
        break;
      default:
        Text = "write of " + Counted(Size) + " to unmapped memory at " + Machine.Owner.Where(At) +
               Machine.ByInstruction();
        break;
    }
    Machine.StopWithFault(Text);
    return false;
  });
}

// Device registers are byte-wide, and only where a device decodes them.
bool DeviceAccessFits(State& Machine, uint32_t At, unsigned Size, const char* Access) {
  if (Size == 1 && Machine.Board().DecodesMemory(At)) {
    return true;
  }
  Machine.StopWithFault((Size != 1 ? std::to_string(Size) + "-byte " + Access + " of device memory at "
                                   : std::string(Access) + " of device memory that no device decodes at ") +
                        HexField(At) + Machine.ByInstruction() + (Size != 1 ? " (device registers are byte-wide)" : ""));
  return false;
}
}  // namespace

uint64_t OnDeviceRead(uc_engine*, uint64_t Offset, unsigned Size, void* User) {
  auto& Window = *static_cast<State::Window*>(User);
  State& Machine = *Window.Machine;
  const uint32_t At = Window.Base + static_cast<uint32_t>(Offset);
  if (Machine.Stopped()) {
    return 0xFFFFFFFF;
  }
  return Guarded(Machine, uint64_t{0xFF}, [&]() -> uint64_t {
    if (!DeviceAccessFits(Machine, At, Size, "read")) {
      return 0xFFFFFFFF;
    }
    return Machine.Board().DeviceRead(At);
  });
}

void OnDeviceWrite(uc_engine*, uint64_t Offset, unsigned Size, uint64_t Value, void* User) {
  auto& Window = *static_cast<State::Window*>(User);
  State& Machine = *Window.Machine;
  const uint32_t At = Window.Base + static_cast<uint32_t>(Offset);
  if (Machine.Stopped()) {
    return;
  }
  Guarded(Machine, 0, [&] {
    if (DeviceAccessFits(Machine, At, Size, "write")) {
      Machine.Board().DeviceWrite(At, static_cast<uint8_t>(Value));
    }
    return 0;
  });
}

void ImageMachine::State::InstallHooks(uint32_t RunAddress, uint32_t ImagePages) {
  uc_hook Hook;
  bool Hooked = uc_hook_add(Uc, &Hook, UC_HOOK_CODE, reinterpret_cast<void*>(&OnImageInstruction), this, RunAddress,
                            RunAddress + ImagePages - 1) == UC_ERR_OK;
  Hooked &= uc_hook_add(Uc, &Hook, UC_HOOK_CODE, reinterpret_cast<void*>(&OnTrap), this, Guest::TrapsAt,
                        Guest::TrapsAt + PageBytes - 1) == UC_ERR_OK;
  Hooked &= uc_hook_add(Uc, &Hook, UC_HOOK_INTR, reinterpret_cast<void*>(&OnInterrupt), this, 1, 0) == UC_ERR_OK;
  Hooked &= uc_hook_add(Uc, &Hook, UC_HOOK_INSN, reinterpret_cast<void*>(&OnPortIn), this, 1, 0, UC_X86_INS_IN) ==
            UC_ERR_OK;
  Hooked &= uc_hook_add(Uc, &Hook, UC_HOOK_INSN, reinterpret_cast<void*>(&OnPortOut), this, 1, 0, UC_X86_INS_OUT) ==
            UC_ERR_OK;
  Hooked &= uc_hook_add(Uc, &Hook, UC_HOOK_INSN, reinterpret_cast<void*>(&OnCpuId), this, 1, 0, UC_X86_INS_CPUID) ==
            UC_ERR_OK;
  Hooked &= uc_hook_add(Uc, &Hook, UC_HOOK_MEM_READ, reinterpret_cast<void*>(&OnStackRead), this, Guest::StackFirst,
                        Guest::StackTop - 1) == UC_ERR_OK;
  Hooked &= uc_hook_add(Uc, &Hook, UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(&OnPoolWrite), this, Guest::PoolAt,
                        Guest::PoolAt + Guest::PoolBytes - 1) == UC_ERR_OK;
  Hooked &= uc_hook_add(Uc, &Hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&OnInvalidMemory), this, 1, 0) ==
            UC_ERR_OK;
  if (!Hooked) {
    throw std::runtime_error("the CPU emulator refused a hook");
  }
}

}  // namespace ImageMode
