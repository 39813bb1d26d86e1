// The one table of whole-module board scenarios that runs on the host build
// and on the image of each build variant.
#include "Scenarios.h"

#include "BuildSettings.h"

namespace Agreement {
namespace {
constexpr uint32_t ErrorLevel = 0x80000000;
constexpr uint32_t AllLevels = 0xFFFFFFFF;
constexpr uint64_t ShortWatchdog = 20000;

using Failing = Pei::FailureSwitches;

std::function<void(Sim::Board&)> Level(uint32_t Mask) {
  return [Mask](Sim::Board& Board) { Board.SetLevelMask(Mask); };
}

// Chains board set-ups.
std::function<void(Sim::Board&)> With(std::function<void(Sim::Board&)> First, std::function<void(Sim::Board&)> Then) {
  return [First, Then](Sim::Board& Board) {
    First(Board);
    Then(Board);
  };
}

const std::string Statuses[] = {"status 0x00000000", "status 0x80000009", "status 0x8000000E", "status 0x80000007"};
const std::string& Success = Statuses[0];
const std::string& OutOfResources = Statuses[1];
const std::string& NotFound = Statuses[2];

const std::string BoardWatchdog = "stalled: board watchdog";

// What the console carries when the first allocation fails and error
// messages are on.
const std::string FirstAllocationReport =
    "\r\nASSERT_EFI_ERROR (Status = Out of Resources)\r\n"
    "ASSERT QelVersionPei/QelVersionPei.cpp(97): !EFI_ERROR (Status)\r\n";

std::vector<Scenario> Table() {
  std::vector<Scenario> All;
  auto Add = [&](Scenario Each) { All.push_back(std::move(Each)); };

  // Boots of the shipped settings: the console, the reports, the foundation's failures.
  Add({.Name = "FreshBoard", .Variant = "Default", .Expect = Success});
  Add({.Name = "FirstAllocationFails", .Variant = "Default", .Board = Level(ErrorLevel), .Fail = Failing::Allocation(1),
       .Expect = OutOfResources});
  Add({.Name = "SecondAllocationFailsNotFound", .Variant = "Default", .Board = Level(ErrorLevel),
       .Fail = Failing::Allocation(2, EFI_NOT_FOUND), .Expect = NotFound});
  Add({.Name = "LevelMaskWithoutErrorBit", .Variant = "Default", .Board = Level(0x7FFFFFFF),
       .Fail = Failing::Allocation(1), .Expect = OutOfResources});
  Add({.Name = "LevelMaskZero", .Variant = "Default", .Board = Level(0), .Fail = Failing::Allocation(1),
       .Expect = OutOfResources});
  Add({.Name = "InstallFails", .Variant = "Default", .Board = Level(AllLevels),
       .Fail = Failing::Install(EFI_OUT_OF_RESOURCES), .Expect = OutOfResources});
  Add({.Name = "ConfiguredBoard",
       .Variant = "Default",
       .Board = [](Sim::Board& Board) { Board.ActivateCom1Device().ActivateCom2Device().PreconfigureUarts(); },
       .Expect = Success});
  Add({.Name = "UartsLeftAt9600",
       .Variant = "Default",
       .Board = With(Level(ErrorLevel), [](Sim::Board& Board) { Board.PreconfigureUarts(12); }),
       .Fail = Failing::Allocation(1),
       .Expect = OutOfResources});
  for (const uint8_t Baud : {0x02, 0x04, 0x06, 0x07}) {
    Add({.Name = "BaudByte" + std::to_string(Baud),
         .Variant = "Default",
         .Board = With(Level(ErrorLevel), [Baud](Sim::Board& Board) { Board.SelectBaud(Baud); }),
         .Fail = Failing::Allocation(2),
         .Expect = OutOfResources});
  }
  Add({.Name = "SuperIoAbsent",
       .Variant = "Default",
       .Board = With(Level(ErrorLevel), [](Sim::Board& Board) { Board.RemoveSuperIo(); }),
       .Fail = Failing::Allocation(1),
       .Expect = OutOfResources});
  Add({.Name = "OnlyCom2DeviceActive",
       .Variant = "Default",
       .Board = With(Level(ErrorLevel), [](Sim::Board& Board) { Board.ActivateCom2Device(); }),
       .Fail = Failing::Allocation(1),
       .Expect = OutOfResources});
  Add({.Name = "UartsFollowSuperIo",
       .Variant = "Default",
       .Board = Level(ErrorLevel),
       .UartsFollowSuperIo = true,
       .Fail = Failing::Allocation(1),
       .Expect = OutOfResources});
  Add({.Name = "SuperIoAbsentUartsFollowIt",
       .Variant = "Default",
       .Board = With(Level(ErrorLevel), [](Sim::Board& Board) { Board.RemoveSuperIo(); }),
       .UartsFollowSuperIo = true,
       .Fail = Failing::Allocation(1),
       .Expect = OutOfResources});
  Add({.Name = "FifosReportedOff",
       .Variant = "Default",
       .Board = With(Level(ErrorLevel), [](Sim::Board& Board) { Board.ReportFifosOff(); }),
       .Fail = Failing::Allocation(1),
       .Expect = OutOfResources,
       .ExpectCom1 = "",
       .ExpectCom2 = ""});
  Add({.Name = "NoUarts",
       .Variant = "Default",
       .Board = With(Level(ErrorLevel), [](Sim::Board& Board) { Board.RemoveUarts(); }),
       .Fail = Failing::Allocation(1),
       .Expect = OutOfResources});
  Add({.Name = "StuckTransmitters",
       .Variant = "Default",
       .Board = [](Sim::Board& Board) { Board.StickTransmitters().SetWatchdog(ShortWatchdog); },
       .Expect = BoardWatchdog});
  Add({.Name = "StuckTransmittersWithReport",
       .Variant = "Default",
       .Board = With(Level(ErrorLevel), [](Sim::Board& Board) { Board.StickTransmitters().SetWatchdog(ShortWatchdog); }),
       .Fail = Failing::Allocation(1),
       .Expect = BoardWatchdog,
       .ExpectCom1 = "",
       .ExpectCom2 = ""});
  // One UART that never drains is given up; the other carries every byte.
  Add({.Name = "Com1StuckWithReport",
       .Variant = "Default",
       .Board = With(Level(ErrorLevel), [](Sim::Board& Board) { Board.Com1().StuckTransmitter = true; }),
       .Fail = Failing::Allocation(1),
       .Expect = OutOfResources,
       .ExpectCom1 = "",
       .ExpectCom2 = FirstAllocationReport});
  Add({.Name = "Com2StuckWithReport",
       .Variant = "Default",
       .Board = With(Level(ErrorLevel), [](Sim::Board& Board) { Board.Com2().StuckTransmitter = true; }),
       .Fail = Failing::Allocation(1),
       .Expect = OutOfResources,
       .ExpectCom1 = FirstAllocationReport,
       .ExpectCom2 = ""});
  Add({.Name = "InterruptsOnAtEntry",
       .Variant = "Default",
       .Board = [](Sim::Board& Board) { Board.Processor().InterruptFlag = true; },
       .Expect = Success});

  // Messages and reports called directly, after the console is up.
  const Step Init{"SerialInit", {}, {}};
  Add({.Name = "LevelMaskIsReadForEveryMessage",
       .Variant = "Default",
       .Steps = {Init,
                 {"DebugMessage", {Number(ErrorLevel), Text("one %d\n"), Number(1)}, Level(ErrorLevel)},
                 {"DebugMessage", {Number(ErrorLevel), Text("two %d\n"), Number(2)}, Level(0)},
                 {"DebugMessage", {Number(ErrorLevel), Text("three %d\n"), Number(3)}, Level(ErrorLevel)},
                 {"DebugMessage", {Number(0x40), Text("info\n")}, {}}},
       .Expect = "returned"});
  Add({.Name = "LongMessageIsCut",
       .Variant = "Default",
       .Steps = {Init, {"DebugMessage", {Number(ErrorLevel), Text("%a"), Text(std::string(300, 'x'))}, Level(AllLevels)}},
       .Expect = "returned"});
  Add({.Name = "MessageConversions",
       .Variant = "Default",
       .Steps = {Init,
                 {"DebugMessage",
                  {Number(ErrorLevel), Text("%r %08x %-6d|%5a|%c %ld\n"), Number(EFI_DEVICE_ERROR), Number(0xBEEF),
                   Number(static_cast<uint32_t>(-42)), Text("ab"), Number('Z'), Number(0x89ABCDEF), Number(0x1234567)},
                  Level(AllLevels)}},
       .Expect = "returned"});
  Add({.Name = "AssertionIgnoresTheMask",
       .Variant = "Default",
       .Steps = {Init,
                 {"ReportAssertion",
                  {Text("Library/BaseLib/String.cpp"), Number(1235), Text("String != ((void *) 0)")},
                  Level(0)}},
       .Expect = "returned"});
  Add({.Name = "NullFormatIsReported",
       .Variant = "Default",
       .Steps = {Init, {"DebugMessage", {Number(ErrorLevel), Number(0)}, Level(AllLevels)}},
       .Expect = "returned"});

  // The other reporting policies.
  for (const char* Variant : {"Release", "DebugNoTrap", "DebugHalt"}) {
    Add({.Name = "FreshBoard", .Variant = Variant, .Board = Level(AllLevels), .Expect = Success});
    Add({.Name = "FailedAllocation", .Variant = Variant, .Board = Level(AllLevels), .Fail = Failing::Allocation(1),
         .Expect = OutOfResources});
  }
  Add({.Name = "HaltNeverReleased",
       .Variant = "DebugHalt",
       .Board =
           [](Sim::Board& Board) {
             Board.SetLevelMask(AllLevels).SetWatchdog(ShortWatchdog);
             Board.Processor().SpinPollsBeforeRelease = 0;
           },
       .Fail = Failing::Allocation(1),
       .Expect = "stalled"});

  // The revision check, before and after an earlier stage left a line up.
  Add({.Name = "RevisionLowOnFreshLine", .Variant = "Revision", .Revision = Settings::_gPeimRevision - 1, .Expect = Success});
  Add({.Name = "RevisionLowReachesALineLeftUp",
       .Variant = "Revision",
       .Board = [](Sim::Board& Board) { Board.PreconfigureUarts(); },
       .Revision = Settings::_gPeimRevision - 1,
       .Expect = Success});
  Add({.Name = "RevisionHighEnough", .Variant = "Revision", .Revision = Settings::_gPeimRevision, .Expect = Success});

  // A PCI build whose way to the UART is missing: the constructor fails.
  Add({.Name = "ConstructorWithoutUart", .Variant = "ModuleNoUart", .Board = Level(AllLevels), .Expect = Success});

  // UART discovery through PCI topologies, open and broken.
  for (const char* Variant : {"PciIoBus0", "PciIoOneBridge", "PciMmioTwoBridges"}) {
    Add({.Name = "WayOpened", .Variant = Variant, .Board = Level(AllLevels), .Way = PciWay::Listed, .Expect = Success});
    Add({.Name = "ReportThroughPciUart",
         .Variant = Variant,
         .Board = Level(ErrorLevel),
         .Way = PciWay::Listed,
         .Fail = Failing::Allocation(1),
         .Expect = OutOfResources});
    Add({.Name = "InterruptsOnAtEntry",
         .Variant = Variant,
         .Board = [](Sim::Board& Board) { Board.Processor().InterruptFlag = true; },
         .Way = PciWay::Listed,
         .Expect = Success});
    Add({.Name = "UartBarEmpty", .Variant = Variant, .Board = Level(AllLevels), .Way = PciWay::BarEmpty, .Expect = Success});
    Add({.Name = "NoWayAtAll", .Variant = Variant, .Board = Level(AllLevels), .Expect = Success});
  }
  for (const char* Variant : {"PciIoOneBridge", "PciMmioTwoBridges"}) {
    Add({.Name = "BridgeWithoutSecondaryBus",
         .Variant = Variant,
         .Board = Level(AllLevels),
         .Way = PciWay::BridgeWithoutBus,
         .Fail = Failing::Allocation(2),
         .Expect = OutOfResources});
  }
  // The console's other builds: registers in memory or strided, hardware flow
  // control with and without cable detection, FIFOs off or 64 bytes deep.
  for (const char* Variant : {"SerialMmio", "SerialMmioStride4", "SerialStride4", "SerialFlowControl",
                              "SerialCableDetect", "SerialNoFifo", "SerialLargeFifo"}) {
    Add({.Name = "FreshBoard", .Variant = Variant, .Board = Level(AllLevels), .Expect = Success});
    Add({.Name = "ReportOnFailedAllocation", .Variant = Variant, .Board = Level(ErrorLevel),
         .Fail = Failing::Allocation(1), .Expect = OutOfResources});
    Add({.Name = "ConfiguredBoard",
         .Variant = Variant,
         .Board = With(Level(ErrorLevel),
                       [](Sim::Board& Board) { Board.ActivateCom1Device().ActivateCom2Device().PreconfigureUarts(); }),
         .Fail = Failing::Allocation(2),
         .Expect = OutOfResources});
    Add({.Name = "FifosReportedOff",
         .Variant = Variant,
         .Board = With(Level(ErrorLevel), [](Sim::Board& Board) { Board.ReportFifosOff(); }),
         .Fail = Failing::Allocation(1),
         .Expect = OutOfResources});
    // A peer that is there and says stop holds a flow-controlled line; no
    // cable at all holds it only with cable detection. A held line is waited
    // on until the board's watchdog ends the run.
    const bool FlowControl = std::string(Variant) == "SerialFlowControl";
    const bool CableDetect = std::string(Variant) == "SerialCableDetect";
    Add({.Name = "PeerSaysStop",
         .Variant = Variant,
         .Board = With(Level(ErrorLevel),
                       [](Sim::Board& Board) { Board.SetModemLines(false, true).SetWatchdog(ShortWatchdog); }),
         .Fail = Failing::Allocation(1),
         .Expect = FlowControl || CableDetect ? BoardWatchdog : OutOfResources,
         .ExpectCom1 = FlowControl || CableDetect ? "" : FirstAllocationReport});
    Add({.Name = "NoCable",
         .Variant = Variant,
         .Board = With(Level(ErrorLevel),
                       [](Sim::Board& Board) { Board.SetModemLines(false, false).SetWatchdog(ShortWatchdog); }),
         .Fail = Failing::Allocation(1),
         .Expect = CableDetect ? BoardWatchdog : OutOfResources,
         .ExpectCom1 = CableDetect ? "" : FirstAllocationReport});
  }
  return All;
}
}  // namespace

const std::vector<Scenario>& AllScenarios() {
  static const std::vector<Scenario> All = Table();
  return All;
}

std::vector<const Scenario*> ScenariosOf(const std::string& Variant) {
  std::vector<const Scenario*> Found;
  for (const Scenario& Each : AllScenarios()) {
    if (Each.Variant == Variant) {
      Found.push_back(&Each);
    }
  }
  return Found;
}

}  // namespace Agreement
