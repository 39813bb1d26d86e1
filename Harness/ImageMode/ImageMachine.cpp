// The image on the CPU emulator: placing it, and calling its routines with
// the checks of the calling convention that a caller relies on.
#include "ImageMachine.h"

#include <fstream>
#include <iterator>

#include "HexField.h"
#include "MachineState.h"

namespace ImageMode {
namespace {
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
      throw BadImage("the image is rebased to " + HexField(Rebased) + "; this board runs images in place from " +
                     HexField(Guest::RebasedFirst) + " up, on a page boundary");
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
  Machine.MapGuestMemory(RunAddress, ImagePages);
  Machine.InstallHooks(RunAddress, ImagePages);
  StartFoundation(Pei::Foundation::DefaultRevision);
}

ImageMachine::~ImageMachine() = default;

uint32_t ImageMachine::Routine(const std::string& Name) const {
  const std::optional<uint32_t> Rva = Symbols.Find(Name);
  if (!Rva) {
    throw ImageFault("the image's map names no single routine '" + Name + "'");
  }
  return Placed.Address + *Rva;
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
    Broken += " ESP " + HexField(Machine.Register(UC_X86_REG_ESP)) + " instead of " + HexField(EspAtReturn) + ";";
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
