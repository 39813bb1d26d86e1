// Command-line switches of the board runner.
#include "RunnerOptions.h"

#include <cerrno>
#include <cstdlib>

namespace {
bool ParseNumber(const std::string& Text, uint64_t Limit, uint64_t& Value) {
  if (Text.empty() || Text[0] == '-') {
    return false;
  }
  errno = 0;
  char* End = nullptr;
  const unsigned long long Parsed = std::strtoull(Text.c_str(), &End, 0);
  if (errno != 0 || *End != '\0' || Parsed > Limit) {
    return false;
  }
  Value = Parsed;
  return true;
}
}  // namespace

std::optional<RunnerOptions> ParseRunnerOptions(const std::vector<std::string>& Arguments, std::string& Error) {
  RunnerOptions Options;
  for (size_t Index = 0; Index < Arguments.size(); ++Index) {
    const std::string& Argument = Arguments[Index];
    std::string Name = Argument;
    std::optional<std::string> Value;
    if (const size_t Equals = Argument.find('='); Argument.rfind("--", 0) == 0 && Equals != std::string::npos) {
      Name = Argument.substr(0, Equals);
      Value = Argument.substr(Equals + 1);
    }
    // A switch that needs a value takes it after '=' or as the next argument.
    auto TakeNumber = [&](uint64_t Limit, uint64_t& Number) {
      if (!Value) {
        if (Index + 1 >= Arguments.size()) {
          Error = Name + " needs a value";
          return false;
        }
        Value = Arguments[++Index];
      }
      if (!ParseNumber(*Value, Limit, Number)) {
        Error = Name + ": '" + *Value + "' is not a number up to " + std::to_string(Limit);
        return false;
      }
      return true;
    };
    auto NoValue = [&] {
      if (Value) {
        Error = Name + " takes no value";
        return false;
      }
      return true;
    };
    uint64_t Number = 0;
    if (Name == "--help" || Name == "-h") {
      Options.Help = true;
    } else if (Name == "--level-mask") {
      if (!TakeNumber(0xFFFFFFFF, Number)) {
        return std::nullopt;
      }
      Options.LevelMask = static_cast<uint32_t>(Number);
    } else if (Name == "--baud-byte") {
      if (!TakeNumber(0xFF, Number)) {
        return std::nullopt;
      }
      Options.BaudByte = static_cast<uint8_t>(Number);
    } else if (Name == "--superio-absent") {
      if (!NoValue()) {
        return std::nullopt;
      }
      Options.SuperIoAbsent = true;
    } else if (Name == "--com1-active") {
      if (!NoValue()) {
        return std::nullopt;
      }
      Options.Com1DeviceActive = true;
    } else if (Name == "--com2-active") {
      if (!NoValue()) {
        return std::nullopt;
      }
      Options.Com2DeviceActive = true;
    } else if (Name == "--uarts-configured") {
      if (!TakeNumber(0xFFFF, Number) || Number == 0) {
        if (Error.empty()) {
          Error = "--uarts-configured: the divisor must be 1..65535";
        }
        return std::nullopt;
      }
      Options.PreconfiguredDivisor = static_cast<uint16_t>(Number);
    } else if (Name == "--uarts-stuck") {
      if (!NoValue()) {
        return std::nullopt;
      }
      Options.UartsStuck = true;
    } else if (Name == "--fifos-off") {
      if (!NoValue()) {
        return std::nullopt;
      }
      Options.FifosOff = true;
    } else if (Name == "--no-uarts") {
      if (!NoValue()) {
        return std::nullopt;
      }
      Options.NoUarts = true;
    } else if (Name == "--uarts-follow-superio") {
      if (!NoValue()) {
        return std::nullopt;
      }
      Options.UartsFollowSuperIo = true;
    } else if (Name == "--fail-allocation") {
      if (!TakeNumber(1000, Number) || Number == 0) {
        if (Error.empty()) {
          Error = "--fail-allocation: N must be 1..1000";
        }
        return std::nullopt;
      }
      Options.FailingAllocation = static_cast<unsigned>(Number);
    } else if (Name == "--allocation-status") {
      if (!TakeNumber(0xFFFFFFFF, Number)) {
        return std::nullopt;
      }
      Options.FailingAllocationStatus = static_cast<EFI_STATUS>(Number);
    } else if (Name == "--fail-install") {
      if (!TakeNumber(0xFFFFFFFF, Number)) {
        return std::nullopt;
      }
      Options.InstallStatus = static_cast<EFI_STATUS>(Number);
    } else if (Name == "--revision") {
      if (!TakeNumber(0xFFFFFFFF, Number)) {
        return std::nullopt;
      }
      Options.Revision = static_cast<uint32_t>(Number);
    } else if (Name == "--halt-polls") {
      if (!TakeNumber(1000000000, Number)) {
        return std::nullopt;
      }
      Options.HaltPolls = Number;
    } else if (Name == "--trace") {
      if (!NoValue()) {
        return std::nullopt;
      }
      Options.Trace = true;
    } else {
      Error = "unknown argument '" + Argument + "'";
      return std::nullopt;
    }
  }
  return Options;
}

std::string RunnerUsage(const char* Variant) {
  return std::string("usage: qel-board [--variant NAME] [switches]\n"
                     "Boots QelVersionPei on the simulated board (this build: ") +
         Variant +
         ") and shows what it left behind.\n"
         "\n"
         "Build of the module (the launcher picks the matching runner):\n"
         "  --variant NAME           default (DebugControlMask 0x1F: trap after each report),\n"
         "                           halt (0x21: halt after each report, messages off),\n"
         "                           quiet (0x00: checks and messages off), no-trap (0x03),\n"
         "                           pci-bridge (UART as a PCI function behind a bridge),\n"
         "                           pci-mmio (memory-mapped PCI UART behind two bridges)\n"
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
         "  --uarts-stuck            the transmitters never report empty (the watchdog ends the run)\n"
         "  --fifos-off              both IIRs report the FIFOs off\n"
         "  --no-uarts               neither UART is fitted\n"
         "PEI Foundation:\n"
         "  --fail-allocation N      the Nth AllocatePool fails (with --allocation-status,\n"
         "                           default 0x80000009 Out of Resources)\n"
         "  --fail-install STATUS    InstallPpi returns STATUS\n"
         "  --revision N             the services table's revision (default 0x00010046)\n"
         "Debugger and output:\n"
         "  --halt-polls N           polls of the halt routine's flag before the debugger ends it\n"
         "                           (default 1000; 0 never: the watchdog ends the run)\n"
         "  --trace                  list every port access\n"
         "  --help                   this text\n"
         "\n"
         "Exit status: 0 when ModuleEntry returned success, 1 when it returned an error,\n"
         "2 for a bad argument, 3 when the board stalled.\n";
}
