// Runs a routine on a stack of its own, painted beforehand, to measure how
// deep the routine went.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

class PaintedStack {
public:
  explicit PaintedStack(size_t Bytes) : Memory(Bytes, Paint) {}

  // Runs Routine there; an exception it throws is thrown again here.
  void Run(const std::function<void()>& Routine);
  // Bytes below the top that were ever written.
  size_t DeepestUse() const;

private:
  static constexpr unsigned char Paint = 0xA5;
  std::vector<unsigned char> Memory;
};
