// One board scenario of the whole module, run on the host build or on the
// image, and the record that the two runs must agree on.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Board.h"
#include "ImageMachine.h"
#include "PeiFoundation.h"

namespace Agreement {

// An argument of a routine that a scenario calls: a number or a text that
// each run places in the module's own memory.
struct Argument {
  uint32_t Value = 0;
  std::optional<std::string> Text;
};
inline Argument Number(uint32_t Value) { return {Value, std::nullopt}; }
inline Argument Text(std::string Value) { return {0, std::move(Value)}; }

// A routine of the module called by name, after an optional change of the board.
struct Step {
  std::string Routine;  // SerialInit, DebugMessage or ReportAssertion
  std::vector<Argument> Arguments;
  std::function<void(Sim::Board&)> Before;
};

// The way to a PCI UART that the build's device list describes.
enum class PciWay : uint8_t { None, Listed, BridgeWithoutBus, BarEmpty };

struct Scenario {
  std::string Name;
  std::string Variant;  // the build variant it runs on
  std::function<void(Sim::Board&)> Board;  // set-up before the run
  PciWay Way = PciWay::None;
  bool UartsFollowSuperIo = false;
  Pei::FailureSwitches Fail = Pei::FailureSwitches::None();
  uint32_t Revision = Pei::Foundation::DefaultRevision;
  std::vector<Step> Steps;  // empty: the PEI Foundation calls ModuleEntry
  // How the host run must end ("status 0x...", "returned" or "stalled"), so
  // that agreement cannot hide a scenario that tests nothing.
  std::string Expect;
  // What each UART must have sent, where the scenario is about the console.
  std::optional<std::string> ExpectCom1;
  std::optional<std::string> ExpectCom2;
};

// Everything both runs must show alike. Addresses that differ by nature (the
// pool and the image lie elsewhere) appear as offsets or as what they point to.
struct Record {
  std::string Outcome;  // "status 0x..." or "stalled: ..." or "fault: ..."
  std::vector<uint32_t> Results;  // of each step
  std::string Com1;
  std::string Com2;
  std::vector<Sim::BusEvent> Trace;
  uint64_t PortAccesses = 0;
  uint64_t BoardNanoseconds = 0;
  unsigned Breakpoints = 0;
  unsigned HaltsReleased = 0;
  std::vector<uint32_t> DiagnosticCodes;
  bool InterruptFlag = false;
  uint32_t Allocations = 0;
  uint32_t Installs = 0;
  std::vector<std::string> Blocks;  // "pool+0x8 12 bytes"
  bool PoolTailUntouched = true;
  std::vector<std::string> Ppis;  // each installed descriptor as it reads
  // Image mode only, for figures.
  uint64_t Instructions = 0;
  uint32_t StackBytes = 0;
};

// Runs on the host build linked into this program.
Record RunOnHost(const Scenario& Which);
// Runs on the image; throws ImageMode::BadImage when it cannot be loaded.
Record RunOnImage(const Scenario& Which, const std::string& ImagePath);

// The first difference, named; empty when the records agree.
std::string FirstDifference(const Record& Host, const Record& Image);

}  // namespace Agreement
