// The board runner's switches, described once: the parser and --help read
// the same table, in the order --help lists them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "RunnerOptions.h"

struct RunnerSwitch {
  enum class Takes : uint8_t { Nothing, Number, Text };

  const char* Group;  // the heading --help lists it under
  const char* Name;
  const char* Alias = nullptr;  // another spelling, not listed
  Takes Value = Takes::Nothing;
  const char* Placeholder = nullptr;  // "N", "DIV", "PATH": what --help shows after the name
  bool RunnerOptions::*Flag = nullptr;
  // A number: its range, whether it is a mask or status (then hexadecimal),
  // and where it goes.
  uint64_t Least = 0;
  uint64_t Most = 0;
  bool Mask = false;
  void (*Store)(RunnerOptions&, uint64_t) = nullptr;
  std::optional<std::string> RunnerOptions::*Text = nullptr;
  std::string Help;  // one line a '\n'-separated part

  bool Named(const std::string& Given) const { return Given == Name || (Alias != nullptr && Given == Alias); }
};

const std::vector<RunnerSwitch>& RunnerSwitches();
