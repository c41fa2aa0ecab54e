#pragma once

#include <cstdint>
#include <cstdio>

namespace kavrel {

constexpr int kNumberDigitsShown = 64;
constexpr int kNumberDigitsBytes = kNumberDigitsShown + 4;  // and "..." and the NUL

// Character source of the netlist readers with its echo and the one
// character of lookahead that outlives every read.
class RunMonitor;

struct InputStream {
  FILE* in = nullptr;
  FILE* out = nullptr;
  int pending_char = 0;
  // When set, a failure of the echo's output ends the input as if it were
  // exhausted.
  RunMonitor* monitor = nullptr;
  // The last number read_unsigned read: whether it was too large for 32 bits,
  // and its digits as typed without leading zeros (the first
  // kNumberDigitsShown, then "..." when there were more).
  bool number_saturated = false;
  char number_digits[kNumberDigitsBytes] = "";
};

// Each returns 0 when an item was read, -1 at the end of input before it began.
int read_word(InputStream& input, int& count, int capacity, char* buffer);
// Accumulates as unsigned 32-bit, saturating at UINT32_MAX: the caller decides
// what is too big.
int read_unsigned(InputStream& input, uint32_t& value);
int read_real(InputStream& input, double& value);

}  // namespace kavrel
