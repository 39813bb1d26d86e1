// A painted stack switched to with ucontext.
#include "PaintedStack.h"

#include <ucontext.h>

#include <exception>
#include <stdexcept>

namespace {
struct Call {
  const std::function<void()>* Routine;
  std::exception_ptr Failure;
  ucontext_t Caller;
};

// Exceptions cannot unwind across the context switch, so they are carried back.
void Trampoline(Call* Pending) {
  try {
    (*Pending->Routine)();
  } catch (...) {
    Pending->Failure = std::current_exception();
  }
}
}  // namespace

void PaintedStack::Run(const std::function<void()>& Routine) {
  Call Pending{&Routine, nullptr, {}};
  ucontext_t Callee;
  if (getcontext(&Callee) != 0) {
    throw std::runtime_error("getcontext failed");
  }
  Callee.uc_stack.ss_sp = Memory.data();
  Callee.uc_stack.ss_size = Memory.size();
  Callee.uc_link = &Pending.Caller;
  makecontext(&Callee, reinterpret_cast<void (*)()>(&Trampoline), 1, &Pending);
  if (swapcontext(&Pending.Caller, &Callee) != 0) {
    throw std::runtime_error("swapcontext failed");
  }
  if (Pending.Failure) {
    std::rethrow_exception(Pending.Failure);
  }
}

size_t PaintedStack::DeepestUse() const {
  size_t Untouched = 0;
  while (Untouched < Memory.size() && Memory[Untouched] == Paint) {
    ++Untouched;
  }
  return Memory.size() - Untouched;
}
