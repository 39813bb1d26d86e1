// String limits that the engine's length walks can reach (the narrow one as
// low as the debug reporter allows), so a comparison of two engines sees each
// walk in the reports it makes.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE(PcdMaximumUnicodeStringLength, 100);
QEL_OVERRIDE(PcdMaximumAsciiStringLength, 256);
}
