// The image on the CPU emulator: memory map, instruction hooks and the
// services trap.
#include "ImageMachine.h"

#include <sys/mman.h>
#include <unicorn/unicorn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "Pi/PeiServices.h"

namespace ImageMode {
namespace {
constexpr uint32_t PageBytes = 4096;
constexpr uint32_t EflagsReserved = 0x2;
constexpr uint32_t EflagsInterrupt = 0x200;
constexpr uint32_t EflagsDirection = 0x400;
constexpr uint16_t HaltCodePort = 0xE8;
constexpr uint32_t HaltEnterCode = 0x4C6F6F70;  // "Loop"
constexpr uint32_t HaltLeaveCode = 0x4C456E64;  // "LEnd"

// The services table: PeiServices points at a word that holds the table's
// address; each service entry is a stub of its own in the trap page.
constexpr uint32_t TableAt = Guest::ServicesAt + 16;
constexpr uint32_t TrapStride = 16;
constexpr uint32_t ServiceCount = (sizeof(EFI_PEI_SERVICES) - sizeof(EFI_TABLE_HEADER)) / 4;
constexpr uint32_t ReturnAt = Guest::TrapsAt + ServiceCount * TrapStride;  // where a call returns to
static_assert(ReturnAt < Guest::TrapsAt + PageBytes);
constexpr uint64_t PeiServicesSignature = 0x5652455320494550ull;  // "PEI SERV"
constexpr const char* ServiceNames[ServiceCount] = {
    "InstallPpi",       "ReInstallPpi",       "LocatePpi",        "NotifyPpi",       "GetBootMode",
    "SetBootMode",      "GetHobList",         "CreateHob",        "FfsFindNextVolume", "FfsFindNextFile",
    "FfsFindSectionData", "InstallPeiMemory", "AllocatePages",    "AllocatePool",    "CopyMem",
    "SetMem",           "ReportStatusCode",   "ResetSystem",      "CpuIo",           "PciCfg",
    "FfsFindFileByName", "FfsGetFileInfo",    "FfsGetVolumeInfo", "RegisterForShadow", "FindSectionData3",
    "FfsGetFileInfo2",  "ResetSystem2",       "FreePages"};
constexpr uint32_t InstallPpiIndex = (offsetof(EFI_PEI_SERVICES, InstallPpi) - sizeof(EFI_TABLE_HEADER)) / 4;
constexpr uint32_t LocatePpiIndex = (offsetof(EFI_PEI_SERVICES, LocatePpi) - sizeof(EFI_TABLE_HEADER)) / 4;
constexpr uint32_t AllocatePoolIndex = (offsetof(EFI_PEI_SERVICES, AllocatePool) - sizeof(EFI_TABLE_HEADER)) / 4;
constexpr uint32_t CpuIoIndex = (offsetof(EFI_PEI_SERVICES, CpuIo) - sizeof(EFI_TABLE_HEADER)) / 4;
constexpr uint32_t PciCfgIndex = (offsetof(EFI_PEI_SERVICES, PciCfg) - sizeof(EFI_TABLE_HEADER)) / 4;

// Callee-saved registers get marks before a call, so a routine that does not
// put them back is caught.
struct Preserved {
  uc_x86_reg Register;
  const char* Name;
  uint32_t Mark;
};
constexpr Preserved CalleeSaved[] = {{UC_X86_REG_EBX, "EBX", 0xB0B0B0B0},
                                     {UC_X86_REG_ESI, "ESI", 0x51515151},
                                     {UC_X86_REG_EDI, "EDI", 0xD1D1D1D1},
                                     {UC_X86_REG_EBP, "EBP", 0xEBEBEBEB}};

constexpr uint8_t StackPaint = 0xA5;

std::string Hex(uint32_t Value, int Digits = 8) {
  char Text[16];
  std::snprintf(Text, sizeof Text, "0x%0*X", Digits, Value);
  return Text;
}

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

const char* ExceptionName(uint32_t Vector) {
  static const char* const Names[] = {"#DE divide error", "#DB debug", "NMI", "#BP breakpoint", "#OF overflow",
                                      "#BR bound range", "#UD invalid opcode", "#NM no math coprocessor",
                                      "#DF double fault", "coprocessor segment overrun", "#TS invalid TSS",
                                      "#NP segment not present", "#SS stack fault", "#GP general protection",
                                      "#PF page fault", "reserved", "#MF x87 error", "#AC alignment check",
                                      "#MC machine check", "#XM SIMD error"};
  return Vector < std::size(Names) ? Names[Vector] : "software interrupt";
}
}  // namespace

std::vector<uint8_t> ReadImageFile(const std::string& Path) {
  std::ifstream File(Path, std::ios::binary);
  if (!File) {
    throw BadImage("cannot be read");
  }
  std::vector<uint8_t> Bytes((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
  if (Bytes.size() > Guest::ImageRoom * 4) {
    throw BadImage(std::to_string(Bytes.size()) + " bytes is too large for a PEI module");
  }
  return Bytes;
}

struct ImageMachine::State {
  explicit State(ImageMachine& Machine)
      : Owner(Machine), Image(Guest::ImageRoom), Stack(Guest::StackBytes, StackPaint), Services(PageBytes),
        Traps(PageBytes, 0xC3), Scratch(Guest::ScratchBytes), Pool(Guest::PoolBytes) {}
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
  std::string InstructionAt(uint32_t Address) const {
    uint8_t Bytes[8];
    std::string Text;
    for (uint32_t Index = 0; Index < sizeof Bytes; ++Index) {
      if (uc_mem_read(Uc, Address + Index, &Bytes[Index], 1) != UC_ERR_OK) {
        break;
      }
      char Byte[4];
      std::snprintf(Byte, sizeof Byte, "%s%02X", Text.empty() ? "" : " ", Bytes[Index]);
      Text += Byte;
    }
    return Text.empty() ? "unreadable" : Text;
  }
  std::string ByInstruction() const {
    const uint32_t At = Eip();
    return " by the instruction at " + Owner.Where(At) + ", whose bytes start " + InstructionAt(At);
  }

  bool InGuestLayout(uint32_t Address) const {
    return (Address >= Guest::StackFirst && Address < Guest::ImageAt) || Address < PageBytes ||
           InImage(Owner.Image(), Address, 1);
  }

  // Makes a page of this process visible at its own address (benchmarks).
  bool ShowHostPage(uint32_t Address) {
    const uint32_t Page = Address & ~(PageBytes - 1);
    unsigned char Resident = 0;
    if (InGuestLayout(Page) || mincore(reinterpret_cast<void*>(Page), PageBytes, &Resident) != 0) {
      return false;
    }
    if (uc_mem_map_ptr(Uc, Page, PageBytes, UC_PROT_READ | UC_PROT_WRITE, reinterpret_cast<void*>(Page)) != UC_ERR_OK) {
      return false;
    }
    return true;
  }

  void Service(uint32_t Index);
};

namespace {
ImageMachine::State& From(void* User) { return *static_cast<ImageMachine::State*>(User); }

void OnImageInstruction(uc_engine*, uint64_t Address, uint32_t, void* User) {
  ImageMachine::State& Machine = From(User);
  if (Machine.Stopped()) {
    return;
  }
  if (++Machine.Count > Machine.Limit) {
    Machine.StopWithFault("no return after " + std::to_string(Machine.Limit) + " instructions (a runaway), at " +
                          Machine.Owner.Where(static_cast<uint32_t>(Address)));
    return;
  }
  const uint32_t Offset = static_cast<uint32_t>(Address) - Machine.Owner.Image().Address;
  if (Offset >= Guest::ImageRoom) {
    return;
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
}

void OnTrap(uc_engine*, uint64_t Address, uint32_t, void* User) {
  ImageMachine::State& Machine = From(User);
  const auto At = static_cast<uint32_t>(Address);
  if (Machine.Stopped() || At == ReturnAt) {
    return;
  }
  if ((At - Guest::TrapsAt) % TrapStride != 0 || (At - Guest::TrapsAt) / TrapStride >= ServiceCount) {
    Machine.StopWithFault("a jump into the services trap page at " + Hex(At));
    return;
  }
  Machine.Service((At - Guest::TrapsAt) / TrapStride);
}

void OnInterrupt(uc_engine*, uint32_t Vector, void* User) {
  ImageMachine::State& Machine = From(User);
  if (Machine.Stopped()) {
    return;
  }
  if (Vector == 3) {
    // The board's debugger counts the trap and resumes after it.
    try {
      Machine.Board().Int3();
    } catch (const Sim::BoardStall& Stalled) {
      Machine.StopWithStall(Stalled);
    } catch (const std::exception& Failure) {
      Machine.StopWithFault(std::string("the board model failed: ") + Failure.what());
    }
    return;
  }
  Machine.StopWithFault("exception " + std::to_string(Vector) + " (" + ExceptionName(Vector) + ") at " +
                        Machine.Owner.Where(Machine.Eip()) + ", whose bytes start " +
                        Machine.InstructionAt(Machine.Eip()));
}

uint32_t OnPortIn(uc_engine*, uint32_t Port, int Size, void* User) {
  ImageMachine::State& Machine = From(User);
  const uint32_t AllOnes = Size >= 4 ? 0xFFFFFFFFu : (1u << (Size * 8)) - 1;
  if (Machine.Stopped()) {
    return AllOnes;
  }
  try {
    return Machine.Board().PortIn(static_cast<uint16_t>(Port), static_cast<unsigned>(Size));
  } catch (const Sim::BoardStall& Stalled) {
    Machine.StopWithStall(Stalled);
  } catch (const std::exception& Failure) {
    Machine.StopWithFault(std::string("the board model failed: ") + Failure.what());
  }
  return AllOnes;
}

void OnPortOut(uc_engine*, uint32_t Port, int Size, uint32_t Value, void* User) {
  ImageMachine::State& Machine = From(User);
  if (Machine.Stopped()) {
    return;
  }
  try {
    Machine.Board().PortOut(static_cast<uint16_t>(Port), static_cast<unsigned>(Size), Value);
  } catch (const Sim::BoardStall& Stalled) {
    Machine.StopWithStall(Stalled);
    return;
  } catch (const std::exception& Failure) {
    Machine.StopWithFault(std::string("the board model failed: ") + Failure.what());
    return;
  }
  // The halt routine's spin reads a flag on its stack; the board's debugger
  // watches those reads from the "Loop" code to the "LEnd" code.
  if (Port == HaltCodePort && Size == 4) {
    if (Value == HaltEnterCode) {
      Machine.Halting = true;
    } else if (Value == HaltLeaveCode) {
      Machine.Halting = false;
    }
  }
}

int OnCpuId(uc_engine*, void* User) {
  ImageMachine::State& Machine = From(User);
  uint32_t Eax = 0, Ebx = 0, Ecx = 0, Edx = 0;
  Machine.Board().CpuId(Machine.Register(UC_X86_REG_EAX), Eax, Ebx, Ecx, Edx);
  Machine.SetRegister(UC_X86_REG_EAX, Eax);
  Machine.SetRegister(UC_X86_REG_EBX, Ebx);
  Machine.SetRegister(UC_X86_REG_ECX, Ecx);
  Machine.SetRegister(UC_X86_REG_EDX, Edx);
  return 1;
}

void OnStackRead(uc_engine*, uc_mem_type, uint64_t Address, int Size, int64_t, void* User) {
  ImageMachine::State& Machine = From(User);
  if (!Machine.Halting || Size != 1 || Machine.Stopped()) {
    return;
  }
  uint8_t* Flag = Machine.Stack.Data + (static_cast<uint32_t>(Address) - Guest::StackFirst);
  try {
    // The hook runs before the read, so the released value is what it reads.
    Machine.Board().PollFlag(static_cast<uint32_t>(Address), *Flag, [Flag](uint8_t Value) { *Flag = Value; });
  } catch (const Sim::BoardStall& Stalled) {
    Machine.StopWithStall(Stalled);
  } catch (const std::exception& Failure) {
    Machine.StopWithFault(std::string("the board model failed: ") + Failure.what());
  }
}

// The pool is the module's only memory besides its stack, and only the
// blocks it was given are its own.
void OnPoolWrite(uc_engine*, uc_mem_type, uint64_t Address, int Size, int64_t Value, void* User) {
  ImageMachine::State& Machine = From(User);
  if (Machine.Stopped()) {
    return;
  }
  const auto At = static_cast<uint32_t>(Address);
  const Pei::Foundation& Foundation = Machine.Owner.Foundation();
  std::string Blocks;
  for (UINT32 Index = 0; Index < Foundation.BlockCount(); ++Index) {
    const Pei::Foundation::Block Block = Foundation.BlockAt(Index);
    if (At >= Block.At && At - Block.At + static_cast<uint32_t>(Size) <= Block.Size) {
      return;
    }
    Blocks += (Blocks.empty() ? "" : ", ") + Hex(Block.At) + " " + std::to_string(Block.Size) + " bytes";
  }
  Machine.StopWithFault("write of " + std::to_string(Size) + (Size == 1 ? " byte (" : " bytes (") +
                        Hex(static_cast<uint32_t>(Value), Size * 2) + ") to the pool at " + Hex(At) +
                        ", outside the blocks it handed out (" + (Blocks.empty() ? "none" : Blocks) + ")" +
                        Machine.ByInstruction());
}

bool OnInvalidMemory(uc_engine*, uc_mem_type Type, uint64_t Address, int Size, int64_t Value, void* User) {
  ImageMachine::State& Machine = From(User);
  const auto At = static_cast<uint32_t>(Address);
  const bool Unmapped = Type == UC_MEM_READ_UNMAPPED || Type == UC_MEM_WRITE_UNMAPPED || Type == UC_MEM_FETCH_UNMAPPED;
  if (Unmapped && Type != UC_MEM_FETCH_UNMAPPED && Machine.Board().DecodesMemory(At)) {
    // A device placed itself during the run (a PCI function whose way was opened).
    try {
      Machine.Owner.MapDeviceWindows();
      return true;
    } catch (const std::exception& Failure) {
      Machine.StopWithFault(Failure.what());
      return false;
    }
  }
  if (Unmapped && Type != UC_MEM_FETCH_UNMAPPED && Machine.Owner.HostMemoryVisible && Machine.ShowHostPage(At)) {
    return true;
  }
  const std::string Bytes = std::to_string(Size) + (Size == 1 ? " byte" : " bytes");
  const bool InImage = ::InImage(Machine.Owner.Image(), At, 1);
  std::string Text;
  switch (Type) {
    case UC_MEM_WRITE_PROT:
      Text = "write of " + Bytes + " (" + Hex(static_cast<uint32_t>(Value), Size * 2) + ") to " +
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
      Text = "read of " + Bytes + " from unmapped memory at " + Machine.Owner.Where(At) + Machine.ByInstruction();
      break;
    default:
      Text = "write of " + Bytes + " to unmapped memory at " + Machine.Owner.Where(At) + Machine.ByInstruction();
      break;
  }
  Machine.StopWithFault(Text);
  return false;
}

uint64_t OnDeviceRead(uc_engine*, uint64_t Offset, unsigned Size, void* User) {
  auto& Window = *static_cast<ImageMachine::State::Window*>(User);
  ImageMachine::State& Machine = *Window.Machine;
  const uint32_t At = Window.Base + static_cast<uint32_t>(Offset);
  if (Machine.Stopped()) {
    return 0xFFFFFFFF;
  }
  if (Size != 1 || !Machine.Board().DecodesMemory(At)) {
    Machine.StopWithFault((Size != 1 ? std::to_string(Size) + "-byte read of device memory at "
                                     : std::string("read of device memory that no device decodes at ")) +
                          Hex(At) + Machine.ByInstruction() + (Size != 1 ? " (device registers are byte-wide)" : ""));
    return 0xFFFFFFFF;
  }
  try {
    return Machine.Board().DeviceRead(At);
  } catch (const Sim::BoardStall& Stalled) {
    Machine.StopWithStall(Stalled);
  } catch (const std::exception& Failure) {
    Machine.StopWithFault(std::string("the board model failed: ") + Failure.what());
  }
  return 0xFF;
}

void OnDeviceWrite(uc_engine*, uint64_t Offset, unsigned Size, uint64_t Value, void* User) {
  auto& Window = *static_cast<ImageMachine::State::Window*>(User);
  ImageMachine::State& Machine = *Window.Machine;
  const uint32_t At = Window.Base + static_cast<uint32_t>(Offset);
  if (Machine.Stopped()) {
    return;
  }
  if (Size != 1 || !Machine.Board().DecodesMemory(At)) {
    Machine.StopWithFault((Size != 1 ? std::to_string(Size) + "-byte write of device memory at "
                                     : std::string("write of device memory that no device decodes at ")) +
                          Hex(At) + Machine.ByInstruction() + (Size != 1 ? " (device registers are byte-wide)" : ""));
    return;
  }
  try {
    Machine.Board().DeviceWrite(At, static_cast<uint8_t>(Value));
  } catch (const Sim::BoardStall& Stalled) {
    Machine.StopWithStall(Stalled);
  } catch (const std::exception& Failure) {
    Machine.StopWithFault(std::string("the board model failed: ") + Failure.what());
  }
}
}  // namespace

void ImageMachine::State::Service(uint32_t Index) {
  const uint32_t Esp = Register(UC_X86_REG_ESP);
  uint32_t Frame[6] = {};  // return address, PeiServices, then the service's arguments
  if (uc_mem_read(Uc, Esp, Frame, sizeof Frame) != UC_ERR_OK) {
    StopWithFault("a service call with an unreadable stack at " + Hex(Esp));
    return;
  }
  const uint32_t Caller = Frame[0];
  Pei::Foundation& Foundation = Owner.Services;
  EFI_STATUS Status = EFI_UNSUPPORTED;
  auto Store = [&](uint32_t At, uint32_t Value) {
    if (uc_mem_write(Uc, At, &Value, sizeof Value) != UC_ERR_OK) {
      StopWithFault(std::string(ServiceNames[Index]) + " could not store its result at " + Owner.Where(At) +
                    " for the caller at " + Owner.Where(Caller));
    }
  };
  switch (Index) {
    case AllocatePoolIndex: {
      // As the in-process services do: a failed allocation leaves *Buffer alone.
      if (Frame[3] == 0) {
        Status = Foundation.AllocatePool(Frame[2], nullptr);
        break;
      }
      Pei::Address Block = 0;
      Status = Foundation.AllocatePool(Frame[2], &Block);
      if (Block != 0) {
        Store(Frame[3], Block);
      }
      break;
    }
    case InstallPpiIndex:
      Status = Foundation.InstallPpi(Frame[2]);
      break;
    case LocatePpiIndex: {
      EFI_GUID Guid{};
      if (Frame[2] == 0 || uc_mem_read(Uc, Frame[2], &Guid, sizeof Guid) != UC_ERR_OK) {
        Status = EFI_INVALID_PARAMETER;
        break;
      }
      Pei::Address Descriptor = 0, Ppi = 0;
      Status = Foundation.LocatePpi(Guid, Frame[3], &Descriptor, &Ppi);
      if (Status == EFI_SUCCESS && Frame[4] != 0) {
        Store(Frame[4], Descriptor);
      }
      if (Status == EFI_SUCCESS && Frame[5] != 0) {
        Store(Frame[5], Ppi);
      }
      break;
    }
    default:
      Foundation.NoteUnexpectedCall(Caller);
      StopWithFault(std::string("unexpected PEI service call: ") + ServiceNames[Index] + " from " + Owner.Where(Caller));
      break;
  }
  SetRegister(UC_X86_REG_EAX, static_cast<uint32_t>(Status));
}

ImageMachine::ImageMachine(Sim::Processor& OnBoard, const std::vector<uint8_t>& File)
    : Board(OnBoard), Emulator(std::make_unique<State>(*this)) {
  const auto FileSize = static_cast<UINT32>(File.size());
  if (const CHAR8* Refused = PlaceImage(File.data(), FileSize, Guest::ImageAt, Emulator->Image.Data,
                                        Emulator->Image.Size, Placed)) {
    throw BadImage(Refused);
  }
  const uint32_t Rebased = Placed.PreferredBase;
  uint32_t RunAddress = Guest::ImageAt;
  if (Rebased != 0) {
    const uint64_t End = uint64_t{Rebased} + ((Placed.Size + PageBytes - 1) & ~(PageBytes - 1));
    if (Rebased % PageBytes != 0 || Rebased < Guest::RebasedFirst || End > (uint64_t{1} << 32)) {
      throw BadImage("the image is rebased to " + Hex(Rebased) + "; this board runs images in place from " +
                     Hex(Guest::RebasedFirst) + " up, on a page boundary");
    }
    RunAddress = Rebased;
    if (const CHAR8* Refused = PlaceImage(File.data(), FileSize, RunAddress, Emulator->Image.Data,
                                          Emulator->Image.Size, Placed)) {
      throw BadImage(Refused);
    }
  }
  State& Machine = *Emulator;
  if (uc_open(UC_ARCH_X86, UC_MODE_32, &Machine.Uc) != UC_ERR_OK) {
    throw std::runtime_error("the CPU emulator cannot start");
  }
  const uint32_t ImagePages = (Placed.Size + PageBytes - 1) & ~(PageBytes - 1);
  const struct {
    uint32_t At;
    Pages& Memory;
    uint32_t Bytes;
    uint32_t Protection;
  } Regions[] = {
      // Flash: the image is code and constants only.
      {RunAddress, Machine.Image, ImagePages, UC_PROT_READ | UC_PROT_EXEC},
      {Guest::StackFirst, Machine.Stack, Guest::StackBytes, UC_PROT_READ | UC_PROT_WRITE},
      {Guest::ServicesAt, Machine.Services, PageBytes, UC_PROT_READ},
      {Guest::TrapsAt, Machine.Traps, PageBytes, UC_PROT_READ | UC_PROT_EXEC},
      {Guest::ScratchAt, Machine.Scratch, Guest::ScratchBytes, UC_PROT_READ | UC_PROT_WRITE},
      {Guest::PoolAt, Machine.Pool, Guest::PoolBytes, UC_PROT_READ | UC_PROT_WRITE},
  };
  for (const auto& Region : Regions) {
    if (uc_mem_map_ptr(Machine.Uc, Region.At, Region.Bytes, Region.Protection, Region.Memory.Data) != UC_ERR_OK) {
      throw std::runtime_error("the CPU emulator cannot map guest memory at " + Hex(Region.At));
    }
  }
  uc_hook Hook;
  bool Hooked = uc_hook_add(Machine.Uc, &Hook, UC_HOOK_CODE, reinterpret_cast<void*>(&OnImageInstruction), &Machine,
                            RunAddress, RunAddress + ImagePages - 1) == UC_ERR_OK;
  Hooked &= uc_hook_add(Machine.Uc, &Hook, UC_HOOK_CODE, reinterpret_cast<void*>(&OnTrap), &Machine, Guest::TrapsAt,
                        Guest::TrapsAt + PageBytes - 1) == UC_ERR_OK;
  Hooked &= uc_hook_add(Machine.Uc, &Hook, UC_HOOK_INTR, reinterpret_cast<void*>(&OnInterrupt), &Machine, 1, 0) ==
            UC_ERR_OK;
  Hooked &= uc_hook_add(Machine.Uc, &Hook, UC_HOOK_INSN, reinterpret_cast<void*>(&OnPortIn), &Machine, 1, 0,
                        UC_X86_INS_IN) == UC_ERR_OK;
  Hooked &= uc_hook_add(Machine.Uc, &Hook, UC_HOOK_INSN, reinterpret_cast<void*>(&OnPortOut), &Machine, 1, 0,
                        UC_X86_INS_OUT) == UC_ERR_OK;
  Hooked &= uc_hook_add(Machine.Uc, &Hook, UC_HOOK_INSN, reinterpret_cast<void*>(&OnCpuId), &Machine, 1, 0,
                        UC_X86_INS_CPUID) == UC_ERR_OK;
  Hooked &= uc_hook_add(Machine.Uc, &Hook, UC_HOOK_MEM_READ, reinterpret_cast<void*>(&OnStackRead), &Machine,
                        Guest::StackFirst, Guest::StackTop - 1) == UC_ERR_OK;
  Hooked &= uc_hook_add(Machine.Uc, &Hook, UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(&OnPoolWrite), &Machine,
                        Guest::PoolAt, Guest::PoolAt + Guest::PoolBytes - 1) == UC_ERR_OK;
  Hooked &= uc_hook_add(Machine.Uc, &Hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&OnInvalidMemory), &Machine,
                        1, 0) == UC_ERR_OK;
  if (!Hooked) {
    throw std::runtime_error("the CPU emulator refused a hook");
  }
  StartFoundation(DefaultRevision);
}

ImageMachine::~ImageMachine() = default;

void ImageMachine::StartFoundation(uint32_t Revision, const Pei::FailureSwitches& Fail) {
  State& Machine = *Emulator;
  Services.Reset({[](const void* Context, Pei::Address From, void* Into, UINT32 Size) {
                    return static_cast<const ImageMachine*>(Context)->Read(From, Into, Size);
                  },
                  this},
                 Machine.Pool.Data, Guest::PoolAt, Guest::PoolBytes, Fail);
  std::memset(Machine.Services.Data, 0, PageBytes);
  auto Word = [&](uint32_t At, uint32_t Value) { std::memcpy(Machine.Services.Data + (At - Guest::ServicesAt), &Value, 4); };
  Word(Guest::ServicesAt, TableAt);
  EFI_TABLE_HEADER Header{};
  Header.Signature = PeiServicesSignature;
  Header.Revision = Revision;
  Header.HeaderSize = sizeof(EFI_PEI_SERVICES);
  std::memcpy(Machine.Services.Data + (TableAt - Guest::ServicesAt), &Header, sizeof Header);
  for (uint32_t Index = 0; Index < ServiceCount; ++Index) {
    // CpuIo and PciCfg are interface pointers, which this foundation does not offer.
    const bool Interface = Index == CpuIoIndex || Index == PciCfgIndex;
    Word(TableAt + sizeof(EFI_TABLE_HEADER) + 4 * Index, Interface ? 0 : Guest::TrapsAt + Index * TrapStride);
  }
}

void ImageMachine::SetRevision(uint32_t Revision) {
  std::memcpy(Emulator->Services.Data + (TableAt - Guest::ServicesAt) + offsetof(EFI_TABLE_HEADER, Revision), &Revision,
              sizeof Revision);
}

void ImageMachine::MapDeviceWindows() {
  State& Machine = *Emulator;
  for (const Sim::Processor::MemoryWindow& Window : Board.MemoryWindows()) {
    const uint32_t First = Window.First & ~(PageBytes - 1);
    const uint64_t End = (static_cast<uint64_t>(Window.Last) | (PageBytes - 1)) + 1;
    for (uint64_t Page = First; Page < End; Page += PageBytes) {
      const auto At = static_cast<uint32_t>(Page);
      if (Machine.InGuestLayout(At)) {
        throw ImageFault("the board's device window " + Hex(Window.First) + ".." + Hex(Window.Last) + " overlaps " +
                         Where(At));
      }
    }
    bool Mapped = false;
    for (const auto& Existing : Machine.Windows) {
      Mapped |= Existing->Base == First;
    }
    if (Mapped) {
      continue;
    }
    auto Entry = std::make_unique<State::Window>(State::Window{&Machine, First});
    // Windows may overlap (a UART inside the PCI hole): the first mapping of a
    // page stands, and the board's own decoding picks the device.
    const uc_err Result = uc_mmio_map(Machine.Uc, First, static_cast<size_t>(End - First), &OnDeviceRead, Entry.get(),
                                      &OnDeviceWrite, Entry.get());
    if (Result == UC_ERR_OK) {
      Machine.Windows.push_back(std::move(Entry));
    } else {
      // Overlapping a window mapped before: map the pages not yet covered, one by one.
      for (uint64_t Page = First; Page < End; Page += PageBytes) {
        auto Single = std::make_unique<State::Window>(State::Window{&Machine, static_cast<uint32_t>(Page)});
        if (uc_mmio_map(Machine.Uc, Page, PageBytes, &OnDeviceRead, Single.get(), &OnDeviceWrite, Single.get()) ==
            UC_ERR_OK) {
          Machine.Windows.push_back(std::move(Single));
        }
      }
    }
  }
}

uint32_t ImageMachine::Routine(const std::string& Name) const {
  const std::optional<uint32_t> Rva = Symbols.Find(Name);
  if (!Rva) {
    throw ImageFault("the image's map names no single routine '" + Name + "'");
  }
  return Placed.Address + *Rva;
}

uint32_t ImageMachine::Put(const void* Bytes, uint32_t Size) {
  const uint32_t At = (ScratchUsed + 7) & ~7u;
  if (At > Guest::ScratchBytes || Size > Guest::ScratchBytes - At) {
    throw std::length_error("image-mode scratch memory is full");
  }
  std::memcpy(Emulator->Scratch.Data + At, Bytes, Size);
  ScratchUsed = At + Size;
  return Guest::ScratchAt + At;
}

bool ImageMachine::Read(uint32_t Address, void* Into, uint32_t Size) const {
  return Address != 0 && uc_mem_read(Emulator->Uc, Address, Into, Size) == UC_ERR_OK;
}

std::string ImageMachine::ReadText(uint32_t Address, uint32_t Limit) const {
  std::string Text;
  char Each = 0;
  while (Text.size() < Limit && Read(Address + static_cast<uint32_t>(Text.size()), &Each, 1) && Each != 0) {
    Text += Each;
  }
  return Text;
}

uint32_t ImageMachine::DeepestStack() const {
  uint32_t Untouched = 0;
  while (Untouched < Guest::StackBytes && Emulator->Stack.Data[Untouched] == StackPaint) {
    ++Untouched;
  }
  return Guest::StackBytes - Untouched;
}

std::string ImageMachine::Where(uint32_t Address) const {
  if (!InImage(Placed, Address, 1)) {
    const char* Region = Address >= Guest::StackFirst && Address < Guest::StackTop         ? "stack"
                         : Address >= Guest::ServicesAt && Address < Guest::TrapsAt        ? "services table"
                         : Address >= Guest::TrapsAt && Address < Guest::TrapsAt + PageBytes ? "services trap page"
                         : Address >= Guest::ScratchAt && Address < Guest::ScratchAt + Guest::ScratchBytes
                             ? "argument scratch"
                         : Address >= Guest::PoolAt && Address < Guest::PoolAt + Guest::PoolBytes ? "pool"
                         : Address < Guest::StackFirst && Address >= Guest::StackFirst - Guest::StackBytes
                             ? "below the stack: an overflow"
                             : nullptr;
    return Hex(Address) + (Region != nullptr ? std::string(" (") + Region + ")" : std::string());
  }
  const uint32_t Rva = Address - Placed.Address;
  std::string Text = Hex(Address) + " (RVA " + Hex(Rva, 4) + ", " + SectionOf(Placed, Rva);
  const std::string Routine = Symbols.Describe(Rva);
  if (!Routine.empty()) {
    Text += ", " + Routine;
  }
  return Text + ")";
}

EFI_STATUS ImageMachine::RunModuleEntry() {
  return static_cast<EFI_STATUS>(Run(Placed.Entry, {Guest::FileHandle, Guest::ServicesAt}));
}

uint32_t ImageMachine::Call(uint32_t Address, const std::vector<uint32_t>& Arguments) { return Run(Address, Arguments); }

uint32_t ImageMachine::Run(uint32_t Address, const std::vector<uint32_t>& Arguments) {
  State& Machine = *Emulator;
  MapDeviceWindows();
  std::memset(Machine.Stack.Data, StackPaint, Guest::StackBytes);
  Machine.Fault.reset();
  Machine.Stall.reset();
  Machine.Halting = false;
  Machine.Count = 0;
  Machine.Limit = InstructionLimit;

  // cdecl: arguments right to left, then the return address.
  uint32_t Esp = Guest::StackTop - 16;
  for (auto Argument = Arguments.rbegin(); Argument != Arguments.rend(); ++Argument) {
    Esp -= 4;
    std::memcpy(Machine.Stack.Data + (Esp - Guest::StackFirst), &*Argument, 4);
  }
  const uint32_t EspAtReturn = Esp;
  Esp -= 4;
  std::memcpy(Machine.Stack.Data + (Esp - Guest::StackFirst), &ReturnAt, 4);
  Machine.SetRegister(UC_X86_REG_ESP, Esp);
  for (const Preserved& Each : CalleeSaved) {
    Machine.SetRegister(Each.Register, Each.Mark);
  }
  Machine.SetRegister(UC_X86_REG_EAX, 0);
  Machine.SetRegister(UC_X86_REG_ECX, 0);
  Machine.SetRegister(UC_X86_REG_EDX, 0);
  Machine.SetRegister(UC_X86_REG_EFLAGS, EflagsReserved | (Board.InterruptFlag ? EflagsInterrupt : 0));

  const uc_err Result = uc_emu_start(Machine.Uc, Address, ReturnAt, 0, 0);
  Executed = Machine.Count;
  if (Machine.Stall) {
    throw Sim::BoardStall(*Machine.Stall);
  }
  if (Machine.Fault) {
    throw ImageFault(*Machine.Fault);
  }
  if (Result != UC_ERR_OK) {
    const uint32_t At = Machine.Eip();
    throw ImageFault(std::string(uc_strerror(Result)) + " at " + Where(At) + ", whose bytes start " +
                     Machine.InstructionAt(At));
  }
  if (Machine.Eip() != ReturnAt) {
    throw ImageFault("the run ended at " + Where(Machine.Eip()) + " instead of returning");
  }
  // What the caller relies on: the stack as it was, callee-saved registers
  // kept and the direction flag clear.
  std::string Broken;
  if (Machine.Register(UC_X86_REG_ESP) != EspAtReturn) {
    Broken += " ESP " + Hex(Machine.Register(UC_X86_REG_ESP)) + " instead of " + Hex(EspAtReturn) + ";";
  }
  for (const Preserved& Each : CalleeSaved) {
    if (Machine.Register(Each.Register) != Each.Mark) {
      Broken += std::string(" ") + Each.Name + " changed;";
    }
  }
  if ((Machine.Register(UC_X86_REG_EFLAGS) & EflagsDirection) != 0) {
    Broken += " the direction flag left set;";
  }
  if (!Broken.empty()) {
    Broken.pop_back();
    throw ImageFault("the routine at " + Where(Address) + " returned breaking the calling convention:" + Broken);
  }
  return Machine.Register(UC_X86_REG_EAX);
}

}  // namespace ImageMode
