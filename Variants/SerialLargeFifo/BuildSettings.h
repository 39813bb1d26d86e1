// The 64-byte FIFO (bit 5 set): chunks of UartExtendedTxFifoSize.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
QEL_OVERRIDE(UartFifoControl, 0x27);
}  // namespace Settings
