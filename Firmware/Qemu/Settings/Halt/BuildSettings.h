// The image variant whose reporter halts after an assertion report instead of
// trapping (DebugControlMask 0x21: checks on, messages off, halt). Under QEMU
// an isa-debug-exit device at 0xE8 turns the halt routine's first write into
// the exit status, so the run shows where the module stopped.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
inline constexpr UINT8 DebugControlMask = 0x21;
}  // namespace Settings
