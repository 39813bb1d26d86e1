// A module that requires PEI services revision 1.70 or later.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
inline constexpr UINT32 _gPeimRevision = 0x00010046;
}
