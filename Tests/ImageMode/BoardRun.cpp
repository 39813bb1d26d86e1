// Runs a board scenario on the host build or on the image and records what
// the module left behind. Compiled once per build variant, with its settings.
#include "BoardRun.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "BuildSettings.h"
#include "HexField.h"
#include "Library/DebugLib.h"
#include "Library/PeimEntryPoint.h"
#include "Library/SerialPortLib.h"
#include "ListedTopology.h"
#include "NativeServices.h"

namespace Agreement {
namespace {
constexpr bool HasPciList = Settings::UartPciDeviceList[0].Device != UartPciDeviceListEnd;

// The board, with the PCI way of the scenario when the build has one.
struct Bench {
  explicit Bench(const Scenario& Which) : Board(Wiring(Which)) {
    if (Which.Board) {
      Which.Board(Board);
    }
    if (Which.Way != PciWay::None) {
      if constexpr (HasPciList) {
        Way = std::make_unique<Listed::Topology>(Board.Pci(), Board.Com1(), Sim::Board::Com1Base);
        if (Which.Way == PciWay::BridgeWithoutBus && Listed::Bridges > 0) {
          Way->Bridge[0]->Set8(0x19, 0);  // secondary bus number
        } else if (Which.Way != PciWay::Listed) {
          for (uint16_t Register = 0x10; Register <= 0x24; Register += 4) {
            Way->Uart->Set32(Register, Listed::UseMmio ? 0x1 : 0x0);  // a BAR of the other kind, or none
          }
        }
      } else {
        throw std::logic_error(Which.Name + ": a PCI way on a build without a PCI device list");
      }
    }
    Board.Processor().ClearTrace();
  }
  // The first UART where the build looks for it (a PCI build finds its UART
  // through the topology instead).
  static Sim::Board::Layout Wiring(const Scenario& Which) {
    Sim::Board::Layout Layout;
    if constexpr (!HasPciList) {
      Layout.Com1 = {Settings::UartBase, Settings::UartRegisterStride, Settings::UartUseMmio};
      Layout.Com2 = {Sim::Board::Com2Base, Settings::UartUseMmio ? 1 : Settings::UartRegisterStride, false};
    }
    Layout.UartsFollowSuperIo = Which.UartsFollowSuperIo;
    return Layout;
  }
  Sim::Board Board;
  std::unique_ptr<Listed::Topology> Way;
};

using Reader = std::function<bool(uint32_t, void*, uint32_t)>;

std::string ReadText(const Reader& Read, uint32_t At) {
  std::string Text;
  char Each = 0;
  while (Text.size() < 256 && Read(At + static_cast<uint32_t>(Text.size()), &Each, 1) && Each != 0) {
    Text += Each;
  }
  return Text;
}

// A descriptor and the record it points to, in terms both runs share.
std::string DescribePpi(const Pei::Foundation& Foundation, const Reader& Read, Pei::Address At) {
  uint32_t Descriptor[3] = {};
  if (!Read(At, Descriptor, sizeof Descriptor)) {
    return "unreadable descriptor";
  }
  auto Where = [&](uint32_t Address) {
    return Foundation.InPool(Address, 1) ? "pool+" + HexField(Address - Foundation.PoolBase()) : std::string("outside the pool");
  };
  std::string Text = "descriptor at " + Where(At) + ", flags " + HexField(Descriptor[0]) + ", GUID";
  uint8_t Guid[16] = {};
  if (!Read(Descriptor[1], Guid, sizeof Guid)) {
    return Text + " unreadable";
  }
  for (uint8_t Byte : Guid) {
    char Two[4];
    std::snprintf(Two, sizeof Two, " %02x", Byte);
    Text += Two;
  }
  uint32_t Record[2] = {};
  if (!Read(Descriptor[2], Record, sizeof Record)) {
    return Text + ", record unreadable";
  }
  return Text + ", record at " + Where(Descriptor[2]) + " {\"" + ReadText(Read, Record[0]) + "\", \"" +
         ReadText(Read, Record[1]) + "\"}";
}

void Finish(Record& Into, Sim::Board& Board, const Pei::Foundation& Foundation, const Reader& Read) {
  Board.Settle();
  Into.Com1 = Board.Com1().Transmitted();
  Into.Com2 = Board.Com2().Transmitted();
  Into.Trace = Board.Processor().Trace();
  Into.PortAccesses = Board.Processor().PortAccesses();
  Into.BoardNanoseconds = Board.Processor().Now();
  Into.Breakpoints = Board.Processor().Breakpoints();
  Into.HaltsReleased = Board.Processor().SpinsReleased();
  Into.DiagnosticCodes = Board.Diagnostics().Codes();
  Into.InterruptFlag = Board.Processor().InterruptFlag;
  Into.Allocations = Foundation.AllocationCalls();
  Into.Installs = Foundation.InstallCalls();
  for (UINT32 Index = 0; Index < Foundation.BlockCount(); ++Index) {
    const Pei::Foundation::Block Block = Foundation.BlockAt(Index);
    Into.Blocks.push_back("pool+" + HexField(Block.At - Foundation.PoolBase()) + " " + std::to_string(Block.Size) + " bytes");
  }
  Into.PoolTailUntouched = Foundation.PoolTailUntouched();
  for (UINT32 Index = 0; Index < Foundation.InstalledCount(); ++Index) {
    Into.Ppis.push_back(DescribePpi(Foundation, Read, Foundation.InstalledAt(Index)));
  }
}

// Routines a scenario may call, and whether they return a value.
bool ReturnsValue(const std::string& Routine) {
  if (Routine == "SerialInit") {
    return true;
  }
  if (Routine == "DebugMessage" || Routine == "ReportAssertion") {
    return false;
  }
  throw std::logic_error("no scenario routine " + Routine);
}

uint32_t CallOnHost(const Step& Call) {
  auto Word = [&](size_t Index) -> uintptr_t {
    if (Index >= Call.Arguments.size()) {
      return 0;
    }
    const Argument& Each = Call.Arguments[Index];
    return Each.Text ? reinterpret_cast<uintptr_t>(Each.Text->c_str()) : Each.Value;
  };
  auto Pointer = [&](size_t Index) { return reinterpret_cast<const CHAR8*>(Word(Index)); };
  if (Call.Routine == "SerialInit") {
    return static_cast<uint32_t>(SerialInit());
  }
  if (Call.Routine == "DebugMessage") {
    // Every argument slot a scenario may fill, as the image's call passes them.
    DebugMessage(static_cast<UINT32>(Word(0)), Pointer(1), Word(2), Word(3), Word(4), Word(5), Word(6), Word(7), Word(8),
                 Word(9));
    return 0;
  }
  if (Call.Routine == "ReportAssertion") {
    ReportAssertion(Pointer(0), Word(1), Pointer(2));
    return 0;
  }
  throw std::logic_error("no scenario routine " + Call.Routine);
}
}  // namespace

Record RunOnHost(const Scenario& Which) {
  Bench Bench(Which);
  Pei::NativeServices Foundation(Which.Revision);
  Foundation.SetFailures(Which.Fail);
  Record Into;
  try {
    if (Which.Steps.empty()) {
      Into.Outcome = "status " + HexField(ModuleEntry(nullptr, Foundation.Services()));
    } else {
      for (const Step& Call : Which.Steps) {
        if (Call.Before) {
          Call.Before(Bench.Board);
        }
        const uint32_t Result = CallOnHost(Call);
        Into.Results.push_back(ReturnsValue(Call.Routine) ? Result : 0);
      }
      Into.Outcome = "returned";
    }
  } catch (const Sim::BoardStall& Stall) {
    Into.Outcome = std::string("stalled: ") + Stall.what();
  }
  const Pei::MemoryView Here = Pei::SameAddressSpace();
  Finish(Into, Bench.Board, Foundation,
         [Here](uint32_t At, void* Bytes, uint32_t Size) { return Here.Read(Here.Context, At, Bytes, Size); });
  return Into;
}

Record RunOnImage(const Scenario& Which, const std::string& ImagePath) {
  Bench Bench(Which);
  ImageMode::ImageMachine Machine(Bench.Board.Processor(), ImageMode::ReadImageFile(ImagePath));
  Machine.UseMap(ImageMode::ImageMap::Read(ImagePath.substr(0, ImagePath.rfind('.')) + ".map"));
  Machine.StartFoundation(Which.Revision, Which.Fail);
  Record Into;
  try {
    if (Which.Steps.empty()) {
      Into.Outcome = "status " + HexField(Machine.RunModuleEntry());
      Into.Instructions = Machine.Instructions();
      Into.StackBytes = Machine.DeepestStack();
    } else {
      for (const Step& Call : Which.Steps) {
        if (Call.Before) {
          Call.Before(Bench.Board);
        }
        Machine.ClearScratch();
        std::vector<uint32_t> Words;
        for (const Argument& Each : Call.Arguments) {
          Words.push_back(Each.Text ? Machine.Put(*Each.Text) : Each.Value);
        }
        const uint32_t Result = Machine.Call(Machine.Routine(Call.Routine), Words);
        Into.Results.push_back(ReturnsValue(Call.Routine) ? Result : 0);
        Into.Instructions += Machine.Instructions();
        Into.StackBytes = std::max(Into.StackBytes, Machine.DeepestStack());
      }
      Into.Outcome = "returned";
    }
  } catch (const Sim::BoardStall& Stall) {
    Into.Outcome = std::string("stalled: ") + Stall.what();
    Into.Instructions += Machine.Instructions();
    Into.StackBytes = std::max(Into.StackBytes, Machine.DeepestStack());
  } catch (const ImageMode::ImageFault& Fault) {
    Into.Outcome = std::string("fault: ") + Fault.what();
  }
  const ImageMode::ImageMachine& Emulated = Machine;
  Finish(Into, Bench.Board, Machine.Foundation(),
         [&Emulated](uint32_t At, void* Bytes, uint32_t Size) { return Emulated.Read(At, Bytes, Size); });
  return Into;
}

}  // namespace Agreement
