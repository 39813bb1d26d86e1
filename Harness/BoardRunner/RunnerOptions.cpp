// Reads the board runner's command line against its table of switches.
#include "RunnerOptions.h"

#include <algorithm>

#include "HexField.h"
#include "NumberSyntax.h"
#include "RunnerSwitches.h"

namespace {
// Combinations that would do nothing, or something other than they say.
std::optional<std::string> CheckCombinations(const RunnerOptions& Options) {
  if (Options.FailingAllocationStatus && Options.FailingAllocation == 0) {
    return "--allocation-status needs --fail-allocation N (which allocation fails)";
  }
  // A "failure" that answers success or a warning is taken: it models a
  // broken foundation on purpose, and the module must cope with it.
  if (Options.InstallStatus && !EFI_ERROR(*Options.InstallStatus)) {
    return "--fail-install " + HexField(*Options.InstallStatus) +
           " is not an error status (bit 31 clear): InstallPpi would report success without installing";
  }
  if (Options.PeerPauseMicroseconds && !Options.PeerPauseAfter) {
    return "--peer-pause-for needs --peer-pause-after N (the byte after which the peer pauses)";
  }
  if (Options.ImagePath && Options.BuiltImage) {
    return "--image PATH and --image-mode both name an image; give one";
  }
  return std::nullopt;
}
}  // namespace

bool ParseRunnerNumber(const std::string& Text, bool Mask, uint64_t Limit, uint64_t& Value, std::string& Why) {
  const NumberSyntax::Reading Read =
      NumberSyntax::Read(Text.data(), static_cast<UINT32>(Text.size()), Mask, Limit);
  switch (Read.Result) {
    case NumberSyntax::Verdict::Number:
      Value = Read.Value;
      return true;
    case NumberSyntax::Verdict::NotANumber:
      Why = "is not a number (0x-prefixed hexadecimal or decimal)";
      return false;
    case NumberSyntax::Verdict::TooLarge:
      Why = "is above " + std::to_string(Limit);
      return false;
    case NumberSyntax::Verdict::AmbiguousMask: {
      char Refusal[NumberSyntax::WhyBytes];
      NumberSyntax::WhyAmbiguous(Text.data(), static_cast<UINT32>(Text.size()), Read.Value, Refusal);
      Why = Refusal;
      return false;
    }
  }
  return false;
}

std::optional<RunnerOptions> ParseRunnerOptions(const std::vector<std::string>& Arguments, std::string& Error) {
  RunnerOptions Options;
  for (size_t Index = 0; Index < Arguments.size(); ++Index) {
    const std::string& Argument = Arguments[Index];
    std::string Name = Argument;
    std::optional<std::string> Value;
    // A value follows '=' or comes as the next argument.
    if (const size_t Equals = Argument.find('='); Argument.rfind("--", 0) == 0 && Equals != std::string::npos) {
      Name = Argument.substr(0, Equals);
      Value = Argument.substr(Equals + 1);
    }
    const std::vector<RunnerSwitch>& Switches = RunnerSwitches();
    const auto Found =
        std::find_if(Switches.begin(), Switches.end(), [&](const RunnerSwitch& Each) { return Each.Named(Name); });
    if (Found == Switches.end()) {
      Error = "unknown argument '" + Argument + "'";
      return std::nullopt;
    }
    const RunnerSwitch& Switch = *Found;
    if (Switch.Value == RunnerSwitch::Takes::Nothing) {
      if (Value) {
        Error = Name + " takes no value";
        return std::nullopt;
      }
      Options.*Switch.Flag = true;
      continue;
    }
    if (!Value && Index + 1 < Arguments.size()) {
      Value = Arguments[++Index];
    }
    if (!Value || Value->empty()) {
      Error = Name + " needs a value";
      return std::nullopt;
    }
    if (Switch.Value == RunnerSwitch::Takes::Text) {
      Options.*Switch.Text = *Value;
      continue;
    }
    uint64_t Parsed = 0;
    std::string Why;
    if (!ParseRunnerNumber(*Value, Switch.Mask, Switch.Most, Parsed, Why)) {
      Error = Name + ": '" + *Value + "' " + Why;
      return std::nullopt;
    }
    if (Parsed < Switch.Least) {
      Error = Name + ": '" + *Value + "' is not a number from " + std::to_string(Switch.Least) + " to " +
              std::to_string(Switch.Most);
      return std::nullopt;
    }
    Switch.Store(Options, Parsed);
  }
  if (const std::optional<std::string> Refused = CheckCombinations(Options)) {
    Error = *Refused;
    return std::nullopt;
  }
  return Options;
}
