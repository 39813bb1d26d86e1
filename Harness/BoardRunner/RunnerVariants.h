// The builds of the module that the board runner offers, generated from the
// table of variants; each entry's mask comes from that build's own settings.
#pragma once

#include <cstddef>
#include <cstdint>

struct RunnerVariant {
  const char* Name;         // the build's name, as --variant, the files and the scripts take it
  const char* Alias;        // a short name --variant also takes
  const char* Description;  // one line for --help
  const char* ImageFile;    // its image in the firmware build
  uint8_t DebugControlMask;
};

// The runner variant that Name or alias Given names, if any.
const RunnerVariant* FindRunnerVariant(const char* Given);
// The runner variant whose image (or its debugger or rebased twin) is named
// FileName, if any.
const RunnerVariant* RunnerVariantOfImage(const char* FileName);

extern const RunnerVariant* const RunnerVariants[];
extern const size_t RunnerVariantCount;
