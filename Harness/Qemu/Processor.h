// What the processor must offer before the core dispatches the module. The
// core itself runs on an i486; the module's code is built for the i686 and
// uses CMOV, which a Pentium or i486 lacks.
#pragma once

#include "Base.h"

namespace Processor {
// True when CPUID is there (EFLAGS.ID can be toggled) and leaf 1 reports
// CMOV (EDX bit 15).
bool HasCmov();
}  // namespace Processor
