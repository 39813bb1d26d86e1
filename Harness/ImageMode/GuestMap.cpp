// The module's address space: one table of guest regions that the mapping,
// the fault reports and the layout check all read, the board's device
// windows, and the harness's reads and writes of guest memory.
#include <sys/mman.h>

#include "HexField.h"
#include "MachineState.h"

namespace ImageMode {
namespace {
using State = ImageMachine::State;

struct GuestRegion {
  uint32_t First;
  uint32_t Bytes;
  uint32_t Protection;
  const char* Name;           // how a fault report names an address there; null: by its address only
  Pages State::*Memory;       // null: a guard, never mapped, so that any access to it faults
};

// The image itself lies at or above Guest::RebasedFirst, as placed.
constexpr GuestRegion GuestMap[] = {
    {Guest::StackFirst, Guest::StackBytes, UC_PROT_READ | UC_PROT_WRITE, "stack", &State::Stack},
    {Guest::ServicesAt, PageBytes, UC_PROT_READ, "services table", &State::Services},
    {Guest::TrapsAt, PageBytes, UC_PROT_READ | UC_PROT_EXEC, "services trap page", &State::Traps},
    {Guest::ScratchAt, Guest::ScratchBytes, UC_PROT_READ | UC_PROT_WRITE, "argument scratch", &State::Scratch},
    {Guest::PoolAt, Guest::PoolBytes, UC_PROT_READ | UC_PROT_WRITE, "pool", &State::Pool},
    {Guest::StackFirst - Guest::StackBytes, Guest::StackBytes, UC_PROT_NONE, "below the stack: an overflow", nullptr},
    {0, PageBytes, UC_PROT_NONE, nullptr, nullptr},  // a null pointer's page
};

const GuestRegion* RegionOf(uint32_t Address) {
  for (const GuestRegion& Region : GuestMap) {
    if (Address >= Region.First && Address - Region.First < Region.Bytes) {
      return &Region;
    }
  }
  return nullptr;
}
}  // namespace

ImageMachine::State::State(ImageMachine& Machine)
    : Owner(Machine), Image(Guest::ImageRoom), Stack(Guest::StackBytes, StackPaint), Services(PageBytes),
      Traps(PageBytes, 0xC3), Scratch(Guest::ScratchBytes), Pool(Guest::PoolBytes) {}

void ImageMachine::State::MapGuestMemory(uint32_t RunAddress, uint32_t ImagePages) {
  // Flash: the image is code and constants only.
  if (uc_mem_map_ptr(Uc, RunAddress, ImagePages, UC_PROT_READ | UC_PROT_EXEC, Image.Data) != UC_ERR_OK) {
    throw std::runtime_error("the CPU emulator cannot map guest memory at " + HexField(RunAddress));
  }
  for (const GuestRegion& Region : GuestMap) {
    if (Region.Memory == nullptr) {
      continue;
    }
    Pages& Memory = this->*Region.Memory;
    if (Memory.Size != Region.Bytes ||
        uc_mem_map_ptr(Uc, Region.First, Region.Bytes, Region.Protection, Memory.Data) != UC_ERR_OK) {
      throw std::runtime_error("the CPU emulator cannot map guest memory at " + HexField(Region.First));
    }
  }
}

bool ImageMachine::State::InGuestLayout(uint32_t Address) const {
  return RegionOf(Address) != nullptr || InImage(Owner.Image(), Address, 1);
}

bool ImageMachine::State::ShowHostPage(uint32_t Address) {
  const uint32_t Page = Address & ~(PageBytes - 1);
  unsigned char Resident = 0;
  if (InGuestLayout(Page) || mincore(reinterpret_cast<void*>(Page), PageBytes, &Resident) != 0) {
    return false;
  }
  return uc_mem_map_ptr(Uc, Page, PageBytes, UC_PROT_READ | UC_PROT_WRITE, reinterpret_cast<void*>(Page)) == UC_ERR_OK;
}

std::string ImageMachine::State::InstructionAt(uint32_t Address) const {
  uint8_t Byte = 0;
  std::string Text;
  for (uint32_t Index = 0; Index < 8 && uc_mem_read(Uc, Address + Index, &Byte, 1) == UC_ERR_OK; ++Index) {
    Text += (Text.empty() ? "" : " ") + HexDigits(Byte, 2);
  }
  return Text.empty() ? "unreadable" : Text;
}

std::string ImageMachine::Where(uint32_t Address) const {
  if (!InImage(Placed, Address, 1)) {
    const GuestRegion* Region = RegionOf(Address);
    return HexField(Address) + (Region != nullptr && Region->Name != nullptr ? std::string(" (") + Region->Name + ")"
                                                                              : std::string());
  }
  const uint32_t Rva = Address - Placed.Address;
  std::string Text = HexField(Address) + " (RVA " + HexField(Rva, 4) + ", " + SectionOf(Placed, Rva);
  const std::string Routine = Symbols.Describe(Rva);
  if (!Routine.empty()) {
    Text += ", " + Routine;
  }
  return Text + ")";
}

void ImageMachine::MapDeviceWindows() {
  State& Machine = *Emulator;
  for (const Sim::Processor::MemoryWindow& Window : Board.MemoryWindows()) {
    const uint32_t First = Window.First & ~(PageBytes - 1);
    const uint64_t End = (static_cast<uint64_t>(Window.Last) | (PageBytes - 1)) + 1;
    for (uint64_t Page = First; Page < End; Page += PageBytes) {
      const auto At = static_cast<uint32_t>(Page);
      if (Machine.InGuestLayout(At)) {
        throw ImageFault("the board's device window " + HexField(Window.First) + ".." + HexField(Window.Last) +
                         " overlaps " + Where(At));
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

}  // namespace ImageMode
