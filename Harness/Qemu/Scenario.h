// The scenario of a run, read from QEMU's fw_cfg: one item per setting,
// named opt/qel/<setting>, added with -fw_cfg name=opt/qel/level,string=0x80000000.
// Numbers are decimal or 0x-prefixed hexadecimal, as the board runner takes
// them: a mask or status typed without 0x that reads as hexadecimal too
// (level=80000000) is refused. With no item the run boots the plain default
// scenario. Without fw_cfg (Bochs) the same words come as one line of text
// in the upper CMOS bank, 0x80..0xFF, ended by a 0 byte (see ReadScenario).
//
//   level=N              CMOS 0x7A..0x7D, the module's message level mask
//   baud=N               CMOS 0x6F, the baud selection (a byte)
//   uart=boot|ready      leave both UARTs in their reset state, or program
//                        them as an earlier stage would for that baud
//   fail-alloc=N         the Nth AllocatePool fails (0: none)
//   allocation-status=N  the status it fails with (default Out of Resources)
//   install-status=N     InstallPpi returns this status and installs nothing
//   expect-status=N      the status the module must return (default 0)
//   expect-traps=N       the breakpoint traps it must take (default 0)
//   expect-uarts=programmed|untouched|absent
//                        what both UARTs must show afterwards: set for the
//                        CMOS baud (8N1, FIFOs on; the default), as the
//                        scenario left them, or not answering at all
//   pci=off|d3|d3-bridge-off|bar-empty|window-closed|on
//                        state of the pci-bridge/pci-serial pair: d3 turns the
//                        UART's I/O decoding off and puts it in D3; the next
//                        three also turn the bridge's decoding off, and empty
//                        the UART's BAR or close the bridge's I/O window; on
//                        leaves both decoding in D0, as earlier firmware does,
//                        and reports them like the others (off: not at all;
//                        refused on a machine without that pair)
//
// The run passes only when the status, the traps and the UARTs are as
// expected, and the record is published exactly when the status is no error.
#pragma once

#include "Base.h"
#include "NumberSyntax.h"

enum class UartState : UINT8 { Boot, Ready };
enum class PciState : UINT8 { Off, D3, D3BridgeOff, BarEmpty, WindowClosed, On };
enum class UartExpectation : UINT8 { Programmed, Untouched, Absent };

struct Scenario {
  UINT32 Level;
  UINT8 Baud;
  UartState Uart;
  UINT32 FailingAllocation;
  EFI_STATUS AllocationStatus;
  bool InstallFails;
  EFI_STATUS InstallStatus;
  EFI_STATUS ExpectedStatus;
  PciState Pci;
  UINT32 ExpectedTraps;
  UartExpectation ExpectedUarts;
};

// What was wrong with a setting: Problem is null when nothing was; Expected
// says what the setting takes, or is null when Why says why the value was
// refused (a mask typed without 0x, in the board runner's words).
struct ScenarioError {
  const CHAR8* Problem;
  const CHAR8* Expected;
  CHAR8 Why[NumberSyntax::WhyBytes];
};
inline constexpr const CHAR8* ScenarioItemPrefix = "opt/qel/";
// Applies one setting (Key without the prefix) to Result.
ScenarioError ApplySetting(const CHAR8* Key, const CHAR8* Value, UINT32 ValueLength, Scenario& Result);
// The default scenario changed by every opt/qel/ item of fw_cfg. A bad item
// is named with its value on the report channel and on COM1, and ends the run.
void ReadScenario(Scenario& Result);
// The PCI resources that firmware assigns before any PEIM runs: the bridge's
// bus numbers and I/O window, the serial function's BAR and decoding. True
// when the bridge and the serial function behind it are there.
bool AssignPciResources();
// Ends the run, as a bad setting, when the scenario asks for PCI states of
// a pair this machine lacks.
void CheckScenarioFits(const Scenario& Setup, bool PciPairPresent);
void DescribeScenario(const Scenario& Setup);
void PrepareScenario(const Scenario& Setup);
// The divisor an earlier stage, or the module, programs for the CMOS baud
// selection.
UINT16 DivisorFor(UINT8 Baud);

// The PCI pair after the run. The module's own configuration accesses lie
// between two marker writes, so QEMU's pci_cfg_write trace can cut them out.
void MarkModuleRunStart(const Scenario& Setup);
void MarkModuleRunEnd(const Scenario& Setup);
void ReportPci(const Scenario& Setup);
