// A module that requires PEI services revision 1.70 or later.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE(_gPeimRevision, 0x00010046);
}
