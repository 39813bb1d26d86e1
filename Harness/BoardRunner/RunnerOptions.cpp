// Command-line switches of the board runner.
#include "RunnerOptions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "RunnerVariants.h"

namespace {
std::string HexText(uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof Text, "0x%08llX", static_cast<unsigned long long>(Value));
  return Text;
}

// Combinations that would do nothing, or something other than they say.
std::optional<std::string> CheckCombinations(const RunnerOptions& Options) {
  if (Options.FailingAllocationStatus && Options.FailingAllocation == 0) {
    return "--allocation-status needs --fail-allocation N (which allocation fails)";
  }
  // A "failure" that answers success or a warning is taken: it models a
  // broken foundation on purpose, and the module must cope with it.
  if (Options.InstallStatus && !EFI_ERROR(*Options.InstallStatus)) {
    return "--fail-install " + HexText(*Options.InstallStatus) +
           " is not an error status (bit 31 clear): InstallPpi would report success without installing";
  }
  if (Options.ImagePath && Options.BuiltImage) {
    return "--image PATH and --image-mode both name an image; give one";
  }
  return std::nullopt;
}
}  // namespace

bool ParseRunnerNumber(const std::string& Text, bool Mask, uint64_t Limit, uint64_t& Value, std::string& Why) {
  const bool Hex = Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X');
  const std::string Digits = Hex ? Text.substr(2) : Text;
  const char* Allowed = Hex ? "0123456789abcdefABCDEF" : "0123456789";
  if (Digits.empty() || Digits.find_first_not_of(Allowed) != std::string::npos || Digits.size() > 16) {
    Why = "is not a number (0x-prefixed hexadecimal or decimal)";
    return false;
  }
  errno = 0;
  const unsigned long long Parsed = std::strtoull(Digits.c_str(), nullptr, Hex ? 16 : 10);
  if (errno != 0 || Parsed > Limit) {
    Why = "is above " + std::to_string(Limit);
    return false;
  }
  if (Mask && !Hex && Digits.size() > 1) {
    Why = "would read as decimal " + Digits + " (" + HexText(Parsed) + "); masks and statuses are written in hexadecimal: 0x" +
          Digits;
    return false;
  }
  Value = Parsed;
  return true;
}

std::optional<RunnerOptions> ParseRunnerOptions(const std::vector<std::string>& Arguments, std::string& Error) {
  RunnerOptions Options;
  // Switches without a value.
  const struct {
    const char* Name;
    bool RunnerOptions::*Field;
  } Flags[] = {
      {"--help", &RunnerOptions::Help},
      {"-h", &RunnerOptions::Help},
      {"--superio-absent", &RunnerOptions::SuperIoAbsent},
      {"--com1-active", &RunnerOptions::Com1DeviceActive},
      {"--com2-active", &RunnerOptions::Com2DeviceActive},
      {"--uarts-stuck", &RunnerOptions::UartsStuck},
      {"--com1-stuck", &RunnerOptions::Com1Stuck},
      {"--com2-stuck", &RunnerOptions::Com2Stuck},
      {"--fifos-off", &RunnerOptions::FifosOff},
      {"--no-uarts", &RunnerOptions::NoUarts},
      {"--uarts-follow-superio", &RunnerOptions::UartsFollowSuperIo},
      {"--trace", &RunnerOptions::Trace},
      {"--image-mode", &RunnerOptions::BuiltImage},
  };
  // Switches with a number, its range, whether it is a mask or status (then
  // hexadecimal) and where it goes.
  const struct {
    const char* Name;
    uint64_t Least;
    uint64_t Most;
    bool Mask;
    void (*Store)(RunnerOptions&, uint64_t);
  } Numbers[] = {
      {"--level-mask", 0, 0xFFFFFFFF, true, [](RunnerOptions& O, uint64_t V) { O.LevelMask = static_cast<uint32_t>(V); }},
      {"--baud-byte", 0, 0xFF, false, [](RunnerOptions& O, uint64_t V) { O.BaudByte = static_cast<uint8_t>(V); }},
      {"--uarts-configured", 1, 0xFFFF, false,
       [](RunnerOptions& O, uint64_t V) { O.PreconfiguredDivisor = static_cast<uint16_t>(V); }},
      {"--fail-allocation", 1, 1000, false,
       [](RunnerOptions& O, uint64_t V) { O.FailingAllocation = static_cast<unsigned>(V); }},
      {"--allocation-status", 0, 0xFFFFFFFF, true,
       [](RunnerOptions& O, uint64_t V) { O.FailingAllocationStatus = static_cast<EFI_STATUS>(V); }},
      {"--fail-install", 0, 0xFFFFFFFF, true,
       [](RunnerOptions& O, uint64_t V) { O.InstallStatus = static_cast<EFI_STATUS>(V); }},
      {"--revision", 0, 0xFFFFFFFF, true, [](RunnerOptions& O, uint64_t V) { O.Revision = static_cast<uint32_t>(V); }},
      {"--halt-polls", 0, 1000000000, false, [](RunnerOptions& O, uint64_t V) { O.HaltPolls = V; }},
  };
  // Switches with a text.
  const struct {
    const char* Name;
    std::optional<std::string> RunnerOptions::*Field;
  } Texts[] = {
      {"--image", &RunnerOptions::ImagePath},
  };

  for (size_t Index = 0; Index < Arguments.size(); ++Index) {
    const std::string& Argument = Arguments[Index];
    std::string Name = Argument;
    std::optional<std::string> Value;
    // A value follows '=' or comes as the next argument.
    if (const size_t Equals = Argument.find('='); Argument.rfind("--", 0) == 0 && Equals != std::string::npos) {
      Name = Argument.substr(0, Equals);
      Value = Argument.substr(Equals + 1);
    }
    bool Known = false;
    for (const auto& Flag : Flags) {
      if (Name == Flag.Name) {
        if (Value) {
          Error = Name + " takes no value";
          return std::nullopt;
        }
        Options.*Flag.Field = true;
        Known = true;
      }
    }
    // A value follows '=' or is the next argument.
    const auto TakeValue = [&]() {
      if (!Value && Index + 1 < Arguments.size()) {
        Value = Arguments[++Index];
      }
      if (!Value || Value->empty()) {
        Error = Name + " needs a value";
        return false;
      }
      return true;
    };
    for (const auto& Number : Numbers) {
      if (Name != Number.Name) {
        continue;
      }
      if (!TakeValue()) {
        return std::nullopt;
      }
      uint64_t Parsed = 0;
      std::string Why;
      if (!ParseRunnerNumber(*Value, Number.Mask, Number.Most, Parsed, Why)) {
        Error = Name + ": '" + *Value + "' " + Why;
        return std::nullopt;
      }
      if (Parsed < Number.Least) {
        Error = Name + ": '" + *Value + "' is not a number from " + std::to_string(Number.Least) + " to " +
                std::to_string(Number.Most);
        return std::nullopt;
      }
      Number.Store(Options, Parsed);
      Known = true;
    }
    for (const auto& Text : Texts) {
      if (Name != Text.Name) {
        continue;
      }
      if (!TakeValue()) {
        return std::nullopt;
      }
      Options.*Text.Field = *Value;
      Known = true;
    }
    if (!Known) {
      Error = "unknown argument '" + Argument + "'";
      return std::nullopt;
    }
  }
  if (const std::optional<std::string> Refused = CheckCombinations(Options)) {
    Error = *Refused;
    return std::nullopt;
  }
  return Options;
}

std::string RunnerUsage(const char* Variant) {
  std::string Usage = std::string("usage: qel-board [--variant NAME] [--image PATH | --image-mode] [switches]\n"
                                  "Boots QelVersionPei on the simulated board (this build: ") +
                      Variant +
                      ") and shows what it left behind:\n"
                      "the host build of the module, or with --image its PE32 image run on a CPU emulator.\n"
                      "\n"
                      "Build of the module (--variant NAME; the launcher picks the matching runner):\n"
                      "  NAME        DebugControlMask (0x01 checks, 0x02 messages, 0x10 trap, 0x20 halt)\n";
  for (size_t Index = 0; Index < RunnerVariantCount; ++Index) {
    char Line[160];
    std::snprintf(Line, sizeof Line, "  %-11s 0x%02X  %s\n", RunnerVariants[Index]->Name,
                  RunnerVariants[Index]->DebugControlMask, RunnerVariants[Index]->Description);
    Usage += Line;
  }
  return Usage +
         "Image mode:\n"
         "  --image PATH             run this PE32 image of the module (it must be built with the\n"
         "                           variant's settings) instead of the host build\n"
         "  --image-mode             run the variant's image from the firmware build\n"
         "Numbers are decimal or 0x-prefixed hexadecimal; masks and statuses take hexadecimal.\n"
         "CMOS:\n"
         "  --level-mask N           debug message level mask, bytes 0x7A..0x7D (default 0:\n"
         "                           messages off; 0x80000000 lets error messages through)\n"
         "  --baud-byte N            byte 0x6F; bits 1..2: 0 115200, 2 57600, 4 19200, 6 9600\n"
         "Super I/O and UARTs:\n"
         "  --superio-absent         nothing answers at 0x4E/0x4F\n"
         "  --com1-active            logical device 3 already active at 0x3F8\n"
         "  --com2-active            logical device 2 already active at 0x2F8\n"
         "  --uarts-follow-superio   a UART answers only while its logical device is active\n"
         "  --uarts-configured DIV   both UARTs left by an earlier stage at divisor DIV, 8N1, FIFOs on\n"
         "  --uarts-stuck            the transmitters never report empty (the driver gives them up)\n"
         "  --com1-stuck             only the transmitter at 0x3F8 never reports empty\n"
         "  --com2-stuck             only the transmitter at 0x2F8 never reports empty\n"
         "  --fifos-off              both IIRs report the FIFOs off\n"
         "  --no-uarts               neither UART is fitted\n"
         "PEI Foundation:\n"
         "  --fail-allocation N      the Nth AllocatePool gives no block and answers\n"
         "                           --allocation-status (default 0x80000009 Out of Resources;\n"
         "                           0 or a warning models a foundation that claims success)\n"
         "  --fail-install STATUS    InstallPpi returns STATUS (an error status) without installing\n"
         "  --revision N             the services table's revision (default 0x00010046)\n"
         "Debugger and output:\n"
         "  --halt-polls N           polls of the halt routine's flag before the debugger ends it\n"
         "                           (default 1000; 0 never: the watchdog ends the run)\n"
         "  --trace                  list every port access\n"
         "  --help                   this text\n"
         "\n"
         "Exit status: 0 when ModuleEntry returned success, 1 when it returned an error,\n"
         "2 for a bad argument or image, 3 when the board stalled, 4 when the image faulted.\n";
}
