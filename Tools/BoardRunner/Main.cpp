// The board runner: boots the module on the simulated board with the scenario
// given on the command line and shows what happened.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "BoardReport.h"
#include "Library/PeimEntryPoint.h"
#include "Library/SerialPortLib.h"
#include "Machine.h"
#include "PaintedStack.h"
#include "PciTopology.h"
#include "PeiFoundation.h"
#include "RunnerOptions.h"

#ifndef QEL_RUNNER_VARIANT
#define QEL_RUNNER_VARIANT "default"
#endif

namespace {
void PrepareBoard(Sim::Machine& Machine, const RunnerOptions& Options) {
  Machine.SelectBaud(Options.BaudByte);
  Machine.SetLevelMask(Options.LevelMask.value_or(0));
  if (Options.SuperIoAbsent) {
    Machine.RemoveSuperIo();
  }
  if (Options.Com1DeviceActive) {
    Machine.ActivateCom1Device();
  }
  if (Options.Com2DeviceActive) {
    Machine.ActivateCom2Device();
  }
  if (Options.PreconfiguredDivisor) {
    Machine.PreconfigureUarts(*Options.PreconfiguredDivisor);
  }
  if (Options.UartsStuck) {
    Machine.StickTransmitters();
  }
  if (Options.Com1Stuck) {
    Machine.Com1().StuckTransmitter = true;
  }
  if (Options.Com2Stuck) {
    Machine.Com2().StuckTransmitter = true;
  }
  // A run of status reads as long as the driver's bound is a wait it gave up.
  Machine.Com1().LongPollReads = Machine.Com2().LongPollReads = SerialPollLimit;
  if (Options.FifosOff) {
    Machine.ReportFifosOff();
  }
  if (Options.NoUarts) {
    Machine.RemoveUarts();
  }
  Machine.Board().SpinPollsBeforeRelease = Options.HaltPolls;
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

  Sim::Machine::Layout Wiring;
  Wiring.UartsFollowSuperIo = Options->UartsFollowSuperIo;
  Sim::Machine Machine(Wiring);
  PrepareBoard(Machine, *Options);
  PciWay Way(Machine);
  Machine.Board().ClearTrace();

  Sim::PeiFoundation Foundation(Options->Revision);
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
  Machine.Settle();

  PrintBoardReport(std::cout, QEL_RUNNER_VARIANT, Machine, Foundation, Outcome, Way.Describe(), Options->Trace);
  if (Outcome.Stall) {
    return 3;
  }
  return EFI_ERROR(*Outcome.Status) ? 1 : 0;
}
