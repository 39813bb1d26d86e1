// The table of the board runner's switches, and the --help text made from it.
#include "RunnerSwitches.h"

#include <cstdio>

#include "HexField.h"
#include "Library/PrintLib.h"
#include "RunnerVariants.h"

namespace {
using Takes = RunnerSwitch::Takes;

// "0x80000009 Out of Resources", named by the module's own formatter.
std::string StatusField(EFI_STATUS Status) {
  char Name[64];
  AsciiFormat(Name, sizeof Name, "%r", Status);
  return HexField(Status) + " " + Name;
}

// The switch's name and value, then its help; a name too long for the
// column puts the help on the next line.
constexpr size_t NameColumn = 24;
constexpr const char* HelpIndent = "                           ";

std::string UsageLines(const RunnerSwitch& Each) {
  std::string Left = Each.Name;
  if (Each.Placeholder != nullptr) {
    Left += std::string(" ") + Each.Placeholder;
  }
  std::string Lines = "  " + Left;
  if (Left.size() > NameColumn) {
    Lines += "\n" + std::string(HelpIndent);
  } else {
    Lines += std::string(NameColumn - Left.size() + 1, ' ');
  }
  for (const char Character : Each.Help) {
    Lines += Character == '\n' ? "\n" + std::string(HelpIndent) : std::string(1, Character);
  }
  return Lines + "\n";
}

bool GroupTakesNumbers(const std::string& Group) {
  for (const RunnerSwitch& Each : RunnerSwitches()) {
    if (Each.Group == Group && Each.Value == Takes::Number) {
      return true;
    }
  }
  return false;
}
}  // namespace

const std::vector<RunnerSwitch>& RunnerSwitches() {
  static const std::vector<RunnerSwitch> Table = {
      {.Group = "Image mode",
       .Name = "--image",
       .Value = Takes::Text,
       .Placeholder = "PATH",
       .Text = &RunnerOptions::ImagePath,
       .Help = "run this PE32 image of the module (it must be built with the\n"
               "variant's settings) instead of the host build"},
      {.Group = "Image mode",
       .Name = "--image-mode",
       .Flag = &RunnerOptions::BuiltImage,
       .Help = "run the variant's image from the firmware build"},
      {.Group = "CMOS",
       .Name = "--level-mask",
       .Value = Takes::Number,
       .Placeholder = "N",
       .Most = 0xFFFFFFFF,
       .Mask = true,
       .Store = [](RunnerOptions& O, uint64_t V) { O.LevelMask = static_cast<uint32_t>(V); },
       .Help = "debug message level mask, bytes 0x7A..0x7D (default 0:\n"
               "messages off; 0x80000000 lets error messages through)"},
      {.Group = "CMOS",
       .Name = "--baud-byte",
       .Value = Takes::Number,
       .Placeholder = "N",
       .Most = 0xFF,
       .Store = [](RunnerOptions& O, uint64_t V) { O.BaudByte = static_cast<uint8_t>(V); },
       .Help = "byte 0x6F; bits 1..2: 0 115200, 2 57600, 4 19200, 6 9600"},
      {.Group = "Super I/O and UARTs",
       .Name = "--superio-absent",
       .Flag = &RunnerOptions::SuperIoAbsent,
       .Help = "nothing answers at 0x4E/0x4F"},
      {.Group = "Super I/O and UARTs",
       .Name = "--com1-active",
       .Flag = &RunnerOptions::Com1DeviceActive,
       .Help = "logical device 3 already active at 0x3F8"},
      {.Group = "Super I/O and UARTs",
       .Name = "--com2-active",
       .Flag = &RunnerOptions::Com2DeviceActive,
       .Help = "logical device 2 already active at 0x2F8"},
      {.Group = "Super I/O and UARTs",
       .Name = "--uarts-follow-superio",
       .Flag = &RunnerOptions::UartsFollowSuperIo,
       .Help = "a UART answers only while its logical device is active"},
      {.Group = "Super I/O and UARTs",
       .Name = "--uarts-configured",
       .Value = Takes::Number,
       .Placeholder = "DIV",
       .Least = 1,
       .Most = 0xFFFF,
       .Store = [](RunnerOptions& O, uint64_t V) { O.PreconfiguredDivisor = static_cast<uint16_t>(V); },
       .Help = "both UARTs left by an earlier stage at divisor DIV, 8N1, FIFOs on"},
      {.Group = "Super I/O and UARTs",
       .Name = "--uarts-stuck",
       .Flag = &RunnerOptions::UartsStuck,
       .Help = "the transmitters never report empty (the driver gives them up)"},
      {.Group = "Super I/O and UARTs",
       .Name = "--com1-stuck",
       .Flag = &RunnerOptions::Com1Stuck,
       .Help = "only the transmitter at 0x3F8 never reports empty"},
      {.Group = "Super I/O and UARTs",
       .Name = "--com2-stuck",
       .Flag = &RunnerOptions::Com2Stuck,
       .Help = "only the transmitter at 0x2F8 never reports empty"},
      {.Group = "Super I/O and UARTs",
       .Name = "--fifos-off",
       .Flag = &RunnerOptions::FifosOff,
       .Help = "both IIRs report the FIFOs off"},
      {.Group = "Super I/O and UARTs",
       .Name = "--no-uarts",
       .Flag = &RunnerOptions::NoUarts,
       .Help = "neither UART is fitted"},
      {.Group = "Super I/O and UARTs",
       .Name = "--peer-pause-after",
       .Value = Takes::Number,
       .Placeholder = "N",
       .Least = 1,
       .Most = 1000000,
       .Store = [](RunnerOptions& O, uint64_t V) { O.PeerPauseAfter = V; },
       .Help = "the peer on each UART drops CTS once N bytes have reached it\n"
               "(a flow-control build then holds its output back)"},
      {.Group = "Super I/O and UARTs",
       .Name = "--peer-pause-for",
       .Value = Takes::Number,
       .Placeholder = "US",
       .Most = 1000000,
       .Store = [](RunnerOptions& O, uint64_t V) { O.PeerPauseMicroseconds = V; },
       .Help = "and raises it again US microseconds later (default " +
               std::to_string(RunnerOptions{}.PeerPauseNanoseconds() / 1000) + ")"},
      {.Group = "PEI Foundation",
       .Name = "--fail-allocation",
       .Value = Takes::Number,
       .Placeholder = "N",
       .Least = 1,
       .Most = 1000,
       .Store = [](RunnerOptions& O, uint64_t V) { O.FailingAllocation = static_cast<unsigned>(V); },
       .Help = "the Nth AllocatePool gives no block and answers\n"
               "--allocation-status (default " +
               StatusField(RunnerOptions{}.AllocationStatus()) + ")"},
      {.Group = "PEI Foundation",
       .Name = "--allocation-status",
       .Value = Takes::Number,
       .Placeholder = "STATUS",
       .Most = 0xFFFFFFFF,
       .Mask = true,
       .Store = [](RunnerOptions& O, uint64_t V) { O.FailingAllocationStatus = static_cast<EFI_STATUS>(V); },
       .Help = "what that allocation answers (0 or a warning models a\n"
               "foundation that claims success)"},
      {.Group = "PEI Foundation",
       .Name = "--fail-install",
       .Value = Takes::Number,
       .Placeholder = "STATUS",
       .Most = 0xFFFFFFFF,
       .Mask = true,
       .Store = [](RunnerOptions& O, uint64_t V) { O.InstallStatus = static_cast<EFI_STATUS>(V); },
       .Help = "InstallPpi returns STATUS (an error status) without installing"},
      {.Group = "PEI Foundation",
       .Name = "--revision",
       .Value = Takes::Number,
       .Placeholder = "N",
       .Most = 0xFFFFFFFF,
       .Mask = true,
       .Store = [](RunnerOptions& O, uint64_t V) { O.Revision = static_cast<uint32_t>(V); },
       .Help = "the services table's revision (default " + HexField(RunnerOptions{}.ServicesRevision()) + ")"},
      {.Group = "Debugger and output",
       .Name = "--halt-polls",
       .Value = Takes::Number,
       .Placeholder = "N",
       .Most = 1000000000,
       .Store = [](RunnerOptions& O, uint64_t V) { O.HaltPolls = V; },
       .Help = "polls of the halt routine's flag before the debugger ends it\n"
               "(default " +
               std::to_string(RunnerOptions{}.HaltPolls) + "; 0 never: the watchdog ends the run)"},
      {.Group = "Debugger and output",
       .Name = "--trace",
       .Flag = &RunnerOptions::Trace,
       .Help = "list every port access"},
      {.Group = "Debugger and output",
       .Name = "--vcd",
       .Value = Takes::Text,
       .Placeholder = "FILE",
       .Text = &RunnerOptions::VcdPath,
       .Help = "write the run's waveforms to FILE (Value Change Dump, 1 ns steps):\n"
               "COM1 and COM2 TX, the interrupt flag, a mark on each access per\n"
               "device, and RTS#, DTR#, CTS#, DSR# in a flow-control build"},
      {.Group = "Debugger and output",
       .Name = "--help",
       .Alias = "-h",
       .Flag = &RunnerOptions::Help,
       .Help = "this text"},
  };
  return Table;
}

std::string RunnerUsage(const char* Variant) {
  std::string Usage = std::string("usage: qel-board [--variant NAME] [--image PATH | --image-mode] [switches]\n"
                                  "Boots QelVersionPei on the simulated board (this build: ") +
                      Variant +
                      ") and shows what it left behind:\n"
                      "the host build of the module, or with --image its PE32 image run on a CPU emulator.\n"
                      "\n"
                      "Build of the module (--variant NAME or ALIAS; the launcher picks the matching runner;\n"
                      "NAME is also the build's name in the image files and the scripts):\n"
                      "  NAME               ALIAS       MASK  (DebugControlMask: 0x01 checks, 0x02 messages,\n"
                      "                                        0x10 trap, 0x20 halt)\n";
  for (size_t Index = 0; Index < RunnerVariantCount; ++Index) {
    const RunnerVariant& Each = *RunnerVariants[Index];
    char Line[200];
    std::snprintf(Line, sizeof Line, "  %-18s %-11s 0x%02X  %s\n", Each.Name, Each.Alias, Each.DebugControlMask,
                  Each.Description);
    Usage += Line;
  }
  std::string Heading;
  bool NumbersSaid = false;
  for (const RunnerSwitch& Each : RunnerSwitches()) {
    if (Heading != Each.Group) {
      Heading = Each.Group;
      // How numbers are written, once, before the first group with a number.
      if (!NumbersSaid && GroupTakesNumbers(Heading)) {
        Usage += "Numbers are decimal or 0x-prefixed hexadecimal; masks and statuses take hexadecimal.\n";
        NumbersSaid = true;
      }
      Usage += Heading + ":\n";
    }
    Usage += UsageLines(Each);
  }
  return Usage +
         "\n"
         "Exit status: 0 when ModuleEntry returned success, 1 when it returned an error,\n"
         "2 for a bad argument or image (or a --vcd FILE that cannot be written), 3 when the\n"
         "board stalled, 4 when the image faulted.\n";
}
