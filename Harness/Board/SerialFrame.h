// One asynchronous character as a 16550 shifts it out of SOUT: the levels of
// its bits from the line control register, and the time of each bit edge.
#pragma once

#include <cstdint>

namespace SerialFrame {
inline constexpr uint32_t InputClockHz = 1843200;  // 115200 baud at divisor 1, 16 clocks a bit

// LCR bits that shape a frame (16550D datasheet, LCR).
inline constexpr uint8_t WordLengthMask = 0x03;  // bits 0..1: 5 to 8 data bits
inline constexpr uint8_t TwoStopBits = 0x04;     // bit 2: 2 stop bits, 1.5 with 5-bit words
inline constexpr uint8_t ParityEnable = 0x08;    // bit 3
inline constexpr uint8_t EvenParity = 0x10;      // bit 4
inline constexpr uint8_t StickParity = 0x20;     // bit 5: the parity bit is fixed

constexpr unsigned DataBits(uint8_t LineControl) { return 5 + (LineControl & WordLengthMask); }
constexpr bool HasParity(uint8_t LineControl) { return (LineControl & ParityEnable) != 0; }

// Counted in half bits so that the 1.5 stop bits of 5-bit words stay exact.
constexpr unsigned StopHalfBits(uint8_t LineControl) {
  if ((LineControl & TwoStopBits) == 0) {
    return 2;
  }
  return DataBits(LineControl) == 5 ? 3 : 4;
}

// The bits before the stop bits: start, data, parity.
constexpr unsigned LeadingBits(uint8_t LineControl) { return 1 + DataBits(LineControl) + (HasParity(LineControl) ? 1 : 0); }

constexpr unsigned HalfBits(uint8_t LineControl) { return 2 * LeadingBits(LineControl) + StopHalfBits(LineControl); }

// The parity bit as sent: it makes the count of ones odd or even, or with
// stick parity it is the inverse of the even-parity bit (1 for odd, 0 for even).
constexpr bool ParityLevel(uint8_t Value, uint8_t LineControl) {
  const uint8_t Data = static_cast<uint8_t>(Value & ((1u << DataBits(LineControl)) - 1));
  unsigned Ones = 0;
  for (uint8_t Rest = Data; Rest != 0; Rest = static_cast<uint8_t>(Rest >> 1)) {
    Ones += Rest & 1;
  }
  const bool Even = (LineControl & EvenParity) != 0;
  if ((LineControl & StickParity) != 0) {
    return !Even;
  }
  return Even ? (Ones % 2) != 0 : (Ones % 2) == 0;
}

// Bit N of the result is the level of leading bit N: the start bit (always
// 0), the data bits least significant first, then the parity bit. The stop
// bits are at the idle level, 1.
constexpr uint16_t LeadingLevels(uint8_t Value, uint8_t LineControl) {
  const unsigned Data = DataBits(LineControl);
  uint16_t Levels = static_cast<uint16_t>((Value & ((1u << Data) - 1)) << 1);
  if (HasParity(LineControl) && ParityLevel(Value, LineControl)) {
    Levels = static_cast<uint16_t>(Levels | (1u << (1 + Data)));
  }
  return Levels;
}

// Board time from a frame's start bit to the edge HalfBitCount half bits
// later, rounded to the nanosecond. The UART model's frame time is the same
// sum over the whole frame, so the last edge lands where the frame ends.
constexpr uint64_t Nanoseconds(uint16_t Divisor, unsigned HalfBitCount) {
  // A divisor of 0 divides by 65536 on the chip.
  const uint64_t Clocks = uint64_t{HalfBitCount} * (Divisor == 0 ? 65536u : Divisor) * 16;
  const uint64_t Denominator = uint64_t{InputClockHz} * 2;
  return (Clocks * 1000000000u + Denominator / 2) / Denominator;
}

// 8N1: start 0, then 'A' (0x41) least significant bit first, 10 bits in all.
static_assert(LeadingBits(0x03) == 9 && HalfBits(0x03) == 20);
static_assert(LeadingLevels(0x41, 0x03) == 0x082);
// 7E1 and 8O1 of 'A' (two ones): even parity sends 0, odd parity 1.
static_assert(LeadingBits(0x1A) == 9 && LeadingLevels(0x41, 0x1A) == 0x082);
static_assert(LeadingBits(0x0B) == 10 && LeadingLevels(0x41, 0x0B) == 0x282);
// Stick parity: 1 with bit 4 clear, 0 with it set.
static_assert(ParityLevel(0x00, 0x2B) && !ParityLevel(0xFF, 0x3B));
// 5-bit words take 1.5 stop bits for "two"; longer words take 2.
static_assert(HalfBits(0x04) == 15 && HalfBits(0x07) == 22);
// One bit at 115200 baud is 8680.6 ns; a 10-bit frame is 86805.6 ns.
static_assert(Nanoseconds(1, 2) == 8681 && Nanoseconds(1, 20) == 86806 && Nanoseconds(12, 20) == 1041667);
}  // namespace SerialFrame
