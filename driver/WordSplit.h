// The split of a 64-bit count held as a double into the high and low 32-bit words of the
// published time and position records.
#pragma once

#include <cstdint>

struct SplitWords {
  uint32_t hi;
  uint32_t lo;
};

inline SplitWords SplitIntoWords(double value) {
  constexpr double kTwoPow32 = 4294967296.0;
  constexpr double kTwoPowMinus32 = 2.3283064365386963e-10;
  const auto hi = static_cast<uint32_t>(value * kTwoPowMinus32);
  return {hi, static_cast<uint32_t>(value - hi * kTwoPow32)};
}
