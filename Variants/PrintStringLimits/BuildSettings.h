// String limits that the engine's length walks can reach (the narrow one as
// low as the debug reporter allows), so a comparison of two engines sees each
// walk in the reports it makes.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
inline constexpr UINT32 PcdMaximumUnicodeStringLength = 100;
inline constexpr UINT32 PcdMaximumAsciiStringLength = 256;
}
