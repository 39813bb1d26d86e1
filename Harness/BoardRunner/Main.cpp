// The board runner: boots the module on the simulated board with the scenario
// given on the command line and shows what happened.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "BoardReport.h"
#include "BuildSettings.h"
#include "ImageBoot.h"
#include "Library/DebugLib.h"
#include "Library/PeimEntryPoint.h"
#include "Library/SerialPortLib.h"
#include "Board.h"
#include "PaintedStack.h"
#include "PciTopology.h"
#include "NativeServices.h"
#include "RunnerOptions.h"
#include "RunnerVariants.h"
#include "WaveformRecorder.h"

#ifndef QEL_RUNNER_VARIANT
#define QEL_RUNNER_VARIANT "Default"
#endif
#ifndef QEL_RUNNER_IMAGE
#define QEL_RUNNER_IMAGE ""
#endif

namespace {
void PrepareBoard(Sim::Board& Board, const RunnerOptions& Options) {
  Board.SelectBaud(Options.BaudByte);
  Board.SetLevelMask(Options.LevelMask.value_or(0));
  if (Options.SuperIoAbsent) {
    Board.RemoveSuperIo();
  }
  if (Options.Com1DeviceActive) {
    Board.ActivateCom1Device();
  }
  if (Options.Com2DeviceActive) {
    Board.ActivateCom2Device();
  }
  if (Options.PreconfiguredDivisor) {
    Board.PreconfigureUarts(*Options.PreconfiguredDivisor);
  }
  if (Options.UartsStuck) {
    Board.StickTransmitters();
  }
  if (Options.Com1Stuck) {
    Board.Com1().StuckTransmitter = true;
  }
  if (Options.Com2Stuck) {
    Board.Com2().StuckTransmitter = true;
  }
  // A run of status reads as long as the driver's bound is a wait it gave up.
  Board.Com1().LongPollReads = Board.Com2().LongPollReads = SerialPollLimit;
  if (Options.FifosOff) {
    Board.ReportFifosOff();
  }
  if (Options.NoUarts) {
    Board.RemoveUarts();
  }
  if (Options.PeerPauseAfter) {
    Board.Com1().Pause = Board.Com2().Pause =
        Sim::Uart16550Model::PeerPause{*Options.PeerPauseAfter, Options.PeerPauseNanoseconds()};
  }
  Board.Processor().SpinPollsBeforeRelease = Options.HaltPolls;
}

// Switches that this build, or this run, gave nothing to do.
std::vector<std::string> SwitchNotes(const RunnerOptions& Options, const Pei::Foundation& Foundation) {
  const uint32_t Allocations = Foundation.AllocationCalls();
  std::vector<std::string> Notes;
  if (Options.Revision && (Settings::_gPeimRevision == 0 || (Settings::DebugControlMask & DebugAssertEnabled) == 0)) {
    Notes.push_back("--revision changed nothing: this build does not check the services revision");
  }
  constexpr bool Halts = (Settings::DebugControlMask & DebugBreakpointOnAssert) == 0 &&
                         (Settings::DebugControlMask & DebugDeadloopOnAssert) != 0;
  if (Options.HaltPolls != RunnerOptions{}.HaltPolls && !Halts) {
    Notes.push_back("--halt-polls changed nothing: this build does not halt after a report");
  }
  if (Options.LevelMask && (Settings::DebugControlMask & DebugMessagesEnabled) == 0) {
    Notes.push_back("--level-mask changed nothing: this build compiles its messages out");
  }
  if (Options.PeerPauseAfter && !Settings::UartHardwareFlowControl) {
    Notes.push_back("--peer-pause-after changed nothing on the wire: this build does not use flow control");
  }
  if (Options.FailingAllocation > Allocations) {
    Notes.push_back("--fail-allocation " + std::to_string(Options.FailingAllocation) + " failed nothing: the module made " +
                    Counted(Allocations, "allocation", "allocations"));
  }
  if (Options.InstallStatus && Foundation.InstallCalls() == 0) {
    Notes.push_back("--fail-install failed nothing: the module did not call InstallPpi");
  }
  return Notes;
}

// An image named after another build runs with the wrong board and report
// settings; the runner cannot read an image's settings, but it can read names
// (an image's debugger and rebased twins are the same build's).
std::optional<std::string> ImageNameNote(const std::string& Path) {
  const std::string Given = Path.substr(Path.find_last_of('/') + 1);
  if (Given.rfind("QelVersionPei", 0) != 0) {
    return std::nullopt;
  }
  const RunnerVariant* Build = RunnerVariantOfImage(Given.c_str());
  if (Build != nullptr && std::string(Build->Name) == QEL_RUNNER_VARIANT) {
    return std::nullopt;
  }
  const std::string Own = std::string("this runner has the settings of build ") + QEL_RUNNER_VARIANT;
  if (Build == nullptr) {
    return "the image is named " + Given + ", which is no runner build's image; " + Own;
  }
  return "the image is named " + Given + ", the image of build " + Build->Name + ", but " + Own +
         " (--variant " + Build->Name + " runs it with its own)";
}

int ExitStatus(const BootOutcome& Outcome) {
  if (Outcome.Fault) {
    return 4;
  }
  if (Outcome.Stall) {
    return 3;
  }
  return EFI_ERROR(*Outcome.Status) ? 1 : 0;
}

// The waveform file is opened before the run, so that a path that cannot be
// written stops the runner at once instead of after a long boot.
class WaveformFile {
public:
  // Returns the reason when the file cannot be written.
  std::optional<std::string> Open(const std::string& Path) {
    Name = Path;
    Out.open(Path, std::ios::binary | std::ios::trunc);
    if (!Out) {
      return "--vcd " + Path + ": cannot write it (" + std::strerror(errno) + ")";
    }
    return std::nullopt;
  }
  bool Wanted() const { return Out.is_open(); }
  // After a refused image the empty file would look like a run's dump.
  void Discard() {
    Out.close();
    std::error_code Ignored;
    std::filesystem::remove(Name, Ignored);
  }
  // The report's line on the dump, or the reason it could not be written.
  bool Write(const Sim::WaveformRecorder& Waves, std::string& Line) {
    const uint64_t Covered = Waves.Write(Out);
    Out.close();
    if (!Out) {
      Line = "--vcd " + Name + ": writing it failed";
      return false;
    }
    char Text[96];
    std::snprintf(Text, sizeof Text, ", %.3f ms of board time in 1 ns steps", static_cast<double>(Covered) / 1e6);
    Line = Name + Text;
    return true;
  }

private:
  std::string Name;
  std::ofstream Out;
};

Pei::FailureSwitches FailuresOf(const RunnerOptions& Options) {
  const auto Fail = Pei::FailureSwitches::Allocation(Options.FailingAllocation, Options.AllocationStatus());
  return Options.InstallStatus ? Fail.WithInstall(*Options.InstallStatus) : Fail;
}

BootOutcome BootHost(Pei::NativeServices& Foundation) {
  BootOutcome Outcome;
  PaintedStack Stack(64 * 1024);
  try {
    Stack.Run([&] { Outcome.Status = ModuleEntry(nullptr, Foundation.Services()); });
  } catch (const Sim::BoardStall& Stall) {
    Outcome.Stall = Stall.what();
  }
  Outcome.StackBytes = Stack.DeepestUse();
  return Outcome;
}
}  // namespace

int main(int Count, char** Values) {
  const std::vector<std::string> Arguments(Values + 1, Values + Count);
  std::string Error;
  const auto Options = ParseRunnerOptions(Arguments, Error);
  if (!Options) {
    std::cerr << "qel-board: " << Error << "\n(qel-board --help lists the switches)\n";
    return 2;
  }
  if (Options->Help) {
    std::cout << RunnerUsage(QEL_RUNNER_VARIANT);
    return 0;
  }

  WaveformFile Waveforms;
  if (Options->VcdPath) {
    if (const std::optional<std::string> Refused = Waveforms.Open(*Options->VcdPath)) {
      std::cerr << "qel-board: " << *Refused << "\n";
      return 2;
    }
  }

  Sim::Board::Layout Wiring;
  Wiring.UartsFollowSuperIo = Options->UartsFollowSuperIo;
  Sim::Board Board(Wiring);
  PrepareBoard(Board, *Options);
  PciWay Way(Board);
  Board.Processor().ClearTrace();
  std::optional<Sim::WaveformRecorder> Waves;
  if (Waveforms.Wanted()) {
    // A flow-control build is the one that reads the modem lines.
    Waves.emplace(Board, Sim::WaveformRecorder::Choices{.ModemLines = Settings::UartHardwareFlowControl});
    if (const Sim::PciUartFunction* Function = Way.UartFunction()) {
      Waves->CountAsCom1(Function, Function);
    }
  }
  // Written after the report's facts are gathered, before it is printed.
  bool WaveformsWritten = true;
  const auto WriteWaveforms = [&](ReportContext& Into) {
    if (Waves) {
      WaveformsWritten = Waveforms.Write(*Waves, Into.Waveforms);
      if (!WaveformsWritten) {
        std::cerr << "qel-board: " << Into.Waveforms << "\n";
        Into.Waveforms.clear();
      }
    }
  };

  ReportContext Context{QEL_RUNNER_VARIANT, "", std::nullopt, Way.UartInMemory(), {}, Options->Trace, ""};
  const Pei::FailureSwitches Fail = FailuresOf(*Options);
  if (Options->ImagePath || Options->BuiltImage) {
    const std::string Path = Options->ImagePath.value_or(QEL_RUNNER_IMAGE);
    std::optional<ImageBoot> Image;
    try {
      Image.emplace(Board, Path);
    } catch (const ImageMode::BadImage& Refused) {
      std::cerr << "qel-board: " << Path << ": " << Refused.what() << "\n";
      Waves.reset();
      Waveforms.Discard();
      return 2;
    }
    const BootOutcome Outcome = Image->Boot(Options->ServicesRevision(), Fail);
    Board.Settle();
    // The module assigns the UART's BAR during the run.
    Context.PciLine = Way.Describe();
    Context.PciUart = Way.UartAddress();
    Context.Notes = SwitchNotes(*Options, Image->Foundation());
    if (const std::optional<std::string> Note = ImageNameNote(Path)) {
      Context.Notes.push_back(*Note);
    }
    WriteWaveforms(Context);
    PrintBoardReport(std::cout, Context, Board, Image->View(), Outcome);
    return WaveformsWritten ? ExitStatus(Outcome) : 2;
  }

  Pei::NativeServices Foundation(Options->ServicesRevision());
  Foundation.SetFailures(Fail);
  const BootOutcome Outcome = BootHost(Foundation);
  Board.Settle();
  Context.PciLine = Way.Describe();
  Context.PciUart = Way.UartAddress();
  Context.Notes = SwitchNotes(*Options, Foundation);
  const Pei::MemoryView Here = Pei::SameAddressSpace();
  const FoundationView View{Foundation, [Here](uint32_t At, void* Into, uint32_t Size) {
                              return Here.Read(Here.Context, At, Into, Size);
                            }};
  WriteWaveforms(Context);
  PrintBoardReport(std::cout, Context, Board, View, Outcome);
  return WaveformsWritten ? ExitStatus(Outcome) : 2;
}
