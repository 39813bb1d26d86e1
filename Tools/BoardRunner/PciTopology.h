// The PCI way to the UART that this build's device list describes, laid out on
// the simulated board as a platform's firmware would have set it up.
#pragma once

#include "Machine.h"

void BuildPciTopology(Sim::Machine& Machine);
