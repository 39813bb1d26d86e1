// What the UARTs must show after the module ran, for the verdict.
#pragma once

#include "Platform.h"
#include "Scenario.h"

// Null when After, a UART's registers after the run, shows what the scenario
// expects; otherwise why not, to follow "uart 3F8 ". Before is the same UART
// as the scenario left it, read before the module ran.
const CHAR8* UartMismatch(const Uart::Registers& After, const Uart::Registers& Before, const Scenario& Setup);
