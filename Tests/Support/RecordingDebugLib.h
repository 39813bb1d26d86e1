// A debug reporter for unit tests: it keeps every report instead of printing it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Recorded {
struct Assertion {
  std::string Path;
  uint32_t Line;
  std::string Text;
  bool operator==(const Assertion&) const = default;
};
struct Message {
  uint32_t Level;
  std::string Format;
  uint32_t FirstArgument;
};

std::vector<Assertion>& Assertions();
std::vector<Message>& Messages();
void Clear();
}  // namespace Recorded
