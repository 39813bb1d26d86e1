// The builds of the module that the board runner offers, generated from the
// table of variants; each entry's mask comes from that build's own settings.
#pragma once

#include <cstddef>
#include <cstdint>

struct RunnerVariant {
  const char* Name;         // what --variant takes
  const char* Description;  // one line for --help
  uint8_t DebugControlMask;
};

extern const RunnerVariant* const RunnerVariants[];
extern const size_t RunnerVariantCount;
