// The UARTs' part of the verdict: a run that passed while no UART answered,
// or while the module left them unprogrammed, said pass by accident.
#include "UartCheck.h"

namespace {
constexpr UINT8 NothingAnswers = 0xFF;  // the line status of an empty port
constexpr UINT8 LineControl8N1 = 0x03;
constexpr UINT8 FifosEnabled = 0xC0;     // IIR bits 7..6

bool Answers(const Uart::Registers& Registers) { return Registers.Lsr != NothingAnswers; }

// The scratch and line status registers are left out: the module may probe
// the one, and transmitting changes the other.
bool SameSetup(const Uart::Registers& After, const Uart::Registers& Before) {
  return After.Lcr == Before.Lcr && After.Divisor == Before.Divisor && After.Ier == Before.Ier &&
         After.Mcr == Before.Mcr && (After.Iir & FifosEnabled) == (Before.Iir & FifosEnabled);
}
}  // namespace

const CHAR8* UartMismatch(const Uart::Registers& After, const Uart::Registers& Before, const Scenario& Setup) {
  switch (Setup.ExpectedUarts) {
    case UartExpectation::Absent:
      return Answers(After) ? "answers, the scenario expects no UART" : nullptr;
    case UartExpectation::Untouched:
      if (!Answers(After)) {
        return "does not answer";
      }
      return SameSetup(After, Before) ? nullptr : "was changed, the scenario expects it untouched";
    case UartExpectation::Programmed:
      if (!Answers(After)) {
        return "does not answer";
      }
      if (After.Lcr != LineControl8N1 || After.Divisor != DivisorFor(Setup.Baud) ||
          (After.Iir & FifosEnabled) != FifosEnabled) {
        return "is not set for the scenario's baud (8N1, its divisor, FIFOs on)";
      }
      return nullptr;
  }
  return "has an expectation the core does not know";
}
