// The scenario named on the kernel command line (QEMU's -append), and the
// platform state it asks for before the module runs.
//
//   level=HHHHHHHH       CMOS 0x7A..0x7D, the module's message level mask
//   baud=HH              CMOS 0x6F, the baud selection
//   uart=boot|ready      leave both UARTs as QEMU's firmware left them, or
//                        program them as an earlier stage would for that baud
//   fail-alloc=N         the Nth AllocatePool returns Out of Resources
//   install-status=HHHHHHHH  InstallPpi returns this status and installs nothing
//   expect-status=HHHHHHHH   the status the module must return (default 0)
//   pci=off|d3|d3-bridge-off|bar-empty|window-closed
//                        state of the pci-bridge/pci-serial pair: d3 turns the
//                        UART's I/O decoding off and puts it in D3; the others
//                        also turn the bridge's decoding off, and empty the
//                        UART's BAR or close the bridge's I/O window
#pragma once

#include "Base.h"

enum class UartState : UINT8 { Boot, Ready };
enum class PciState : UINT8 { Off, D3, D3BridgeOff, BarEmpty, WindowClosed };

struct Scenario {
  UINT32 Level;
  UINT8 Baud;
  UartState Uart;
  UINT32 FailingAllocation;
  bool InstallFails;
  EFI_STATUS InstallStatus;
  EFI_STATUS ExpectedStatus;
  PciState Pci;
};

// What was wrong with the command line: Problem is null when nothing was.
struct ScenarioError {
  const CHAR8* Problem;
  const CHAR8* Setting;  // the whole key=value word
  UINT32 Length;
};
ScenarioError ParseScenario(const CHAR8* CommandLine, Scenario& Result);
void DescribeScenario(const Scenario& Setup);
void PrepareScenario(const Scenario& Setup);

// The PCI pair after the run. The module's own configuration accesses lie
// between two marker writes, so QEMU's pci_cfg_write trace can cut them out.
void MarkModuleRunStart(const Scenario& Setup);
void MarkModuleRunEnd(const Scenario& Setup);
void ReportPci(const Scenario& Setup);
