// The board runner: boots the module on the simulated board with the scenario
// given on the command line and shows what happened.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "BoardReport.h"
#include "Library/PeimEntryPoint.h"
#include "Library/SerialPortLib.h"
#include "Board.h"
#include "PaintedStack.h"
#include "PciTopology.h"
#include "NativeServices.h"
#include "RunnerOptions.h"

#ifndef QEL_RUNNER_VARIANT
#define QEL_RUNNER_VARIANT "default"
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
  Board.Processor().SpinPollsBeforeRelease = Options.HaltPolls;
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

  Sim::Board::Layout Wiring;
  Wiring.UartsFollowSuperIo = Options->UartsFollowSuperIo;
  Sim::Board Board(Wiring);
  PrepareBoard(Board, *Options);
  PciWay Way(Board);
  Board.Processor().ClearTrace();

  Pei::NativeServices Foundation(Options->Revision);
  if (Options->FailingAllocation != 0) {
    Foundation.FailAllocation(Options->FailingAllocation, Options->FailingAllocationStatus);
  }
  if (Options->InstallStatus) {
    Foundation.FailInstallPpi(*Options->InstallStatus);
  }

  BootOutcome Outcome;
  PaintedStack Stack(64 * 1024);
  try {
    Stack.Run([&] { Outcome.Status = ModuleEntry(nullptr, Foundation.Services()); });
  } catch (const Sim::BoardStall& Stall) {
    Outcome.Stall = Stall.what();
  }
  Outcome.StackBytes = Stack.DeepestUse();
  Board.Settle();

  PrintBoardReport(std::cout, QEL_RUNNER_VARIANT, Board, Foundation, Outcome, Way.Describe(), Options->Trace);
  if (Outcome.Stall) {
    return 3;
  }
  return EFI_ERROR(*Outcome.Status) ? 1 : 0;
}
