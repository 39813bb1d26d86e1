// The scenario a firmware engineer asks the board runner for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Base.h"
#include "PeiFoundation.h"

struct RunnerOptions {
  std::optional<uint32_t> LevelMask;  // CMOS 0x7A..0x7D
  uint8_t BaudByte = 0;               // CMOS 0x6F
  bool SuperIoAbsent = false;
  bool Com1DeviceActive = false;
  bool Com2DeviceActive = false;
  std::optional<uint16_t> PreconfiguredDivisor;  // both UARTs left programmed, 8N1, FIFOs on
  bool UartsStuck = false;
  bool Com1Stuck = false;
  bool Com2Stuck = false;
  bool FifosOff = false;
  bool NoUarts = false;
  bool UartsFollowSuperIo = false;
  unsigned FailingAllocation = 0;
  std::optional<EFI_STATUS> FailingAllocationStatus;  // default Out of Resources
  std::optional<EFI_STATUS> InstallStatus;
  std::optional<uint32_t> Revision;  // default Pei::Foundation::DefaultRevision
  std::optional<uint64_t> PeerPauseAfter;  // bytes; the peer then drops CTS
  std::optional<uint64_t> PeerPauseMicroseconds;
  uint64_t HaltPolls = 1000;
  bool Trace = false;
  std::optional<std::string> VcdPath;
  bool Help = false;
  // Image mode: the module's PE32 image on the CPU emulator instead of the
  // host build; BuiltImage takes this variant's image from the firmware build.
  std::optional<std::string> ImagePath;
  bool BuiltImage = false;

  EFI_STATUS AllocationStatus() const { return FailingAllocationStatus.value_or(EFI_OUT_OF_RESOURCES); }
  uint64_t PeerPauseNanoseconds() const { return PeerPauseMicroseconds.value_or(1000) * 1000; }
  uint32_t ServicesRevision() const { return Revision.value_or(Pei::Foundation::DefaultRevision); }
};

// Parses the command line; on a bad argument returns nothing and sets Error.
std::optional<RunnerOptions> ParseRunnerOptions(const std::vector<std::string>& Arguments, std::string& Error);

// The text of --help, made from the table of switches.
std::string RunnerUsage(const char* Variant);

// Reads 0x-prefixed hexadecimal or decimal (Harness/Shared/NumberSyntax.h);
// Mask refuses a bare number that reads as hexadecimal too, such as 80000000.
bool ParseRunnerNumber(const std::string& Text, bool Mask, uint64_t Limit, uint64_t& Value, std::string& Why);
