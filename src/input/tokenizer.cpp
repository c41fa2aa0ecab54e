#include "input/tokenizer.h"

#include <cmath>

#include "trees/run_monitor.h"

namespace kavrel {

namespace {

bool is_separator(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',' || c == ';';
}

bool is_digit(int c) { return c >= '0' && c <= '9'; }

enum class Step { kItemChar, kEnd };

// The frame shared by the three readers: echoes the pending character, then
// echoes separators and comments until a character of an item or the end of
// input arrives. kItemChar leaves that character in pending_char for the
// reader; kEnd means the input is exhausted and pending_char is 0.
// A separator that ends a begun item is left in pending_char unprinted.
class CharSource {
 public:
  explicit CharSource(InputStream& input) : input_(input) {
    if (input_.pending_char != 0) std::fputc(input_.pending_char, input_.out);
  }

  Step next(bool item_begun, bool& ended_by_separator) {
    ended_by_separator = false;
    // Depth is counted, never recursed, and wide enough for any input length.
    unsigned long long depth = 0;
    for (;;) {
      int c = input_.monitor != nullptr && input_.monitor->poll() ? EOF : std::fgetc(input_.in);
      if (c == EOF) {
        input_.pending_char = 0;
        return Step::kEnd;
      }
      input_.pending_char = c;
      if (c == '{') ++depth;
      if (depth > 0) {
        std::fputc(c, input_.out);
        if (c == '}') --depth;
        continue;
      }
      if (is_separator(c)) {
        if (item_begun) {
          ended_by_separator = true;
          return Step::kItemChar;
        }
        std::fputc(c, input_.out);
        continue;
      }
      return Step::kItemChar;
    }
  }

 private:
  InputStream& input_;
};

}  // namespace

int read_word(InputStream& input, int& count, int capacity, char* buffer) {
  count = 0;
  if (capacity < 1) return -1;
  buffer[0] = '\0';
  CharSource source(input);
  bool begun = false;
  for (;;) {
    bool ended_by_separator = false;
    if (source.next(begun, ended_by_separator) == Step::kEnd) return begun ? 0 : -1;
    if (ended_by_separator) return 0;
    // A character that does not fit ends the word and stays pending.
    if (count >= capacity - 1) return 0;
    buffer[count++] = static_cast<char>(input.pending_char);
    buffer[count] = '\0';
    begun = true;
  }
}

int read_unsigned(InputStream& input, uint32_t& value) {
  value = 0;
  input.number_saturated = false;
  int digit_count = 0;
  bool digits_cut = false;
  auto finish = [&](int result) {
    if (digit_count == 0) input.number_digits[digit_count++] = '0';
    if (digits_cut) {
      for (int i = 0; i < 3; ++i) input.number_digits[digit_count++] = '.';
    }
    input.number_digits[digit_count] = '\0';
    return result;
  };
  CharSource source(input);
  bool begun = false;
  for (;;) {
    bool ended_by_separator = false;
    if (source.next(begun, ended_by_separator) == Step::kEnd) return finish(begun ? 0 : -1);
    if (ended_by_separator) return finish(0);
    int c = input.pending_char;
    if (is_digit(c)) {
      const auto digit = static_cast<uint32_t>(c - '0');
      // Saturates: a number too large for 32 bits must never wrap into a
      // small one (a node label turning into ground, say).
      if (value > (UINT32_MAX - digit) / 10u) {
        value = UINT32_MAX;
        input.number_saturated = true;
      } else {
        value = value * 10u + digit;
      }
      if (digit_count > 0 || c != '0') {
        if (digit_count < kNumberDigitsShown) {
          input.number_digits[digit_count++] = static_cast<char>(c);
        } else {
          digits_cut = true;
        }
      }
      begun = true;
    }
  }
}

namespace {

// Counts saturate here: beyond it the repeated scaling has long reached 0 or
// infinity, so the stored value is the same as without the cap.
constexpr long long kCountCap = 1000000000LL;

void add_digit_saturating(long long& count_or_value, int digit) {
  if (count_or_value >= kCountCap) return;
  count_or_value = count_or_value * 10 + digit;
  if (count_or_value > kCountCap) count_or_value = kCountCap;
}

struct RealState {
  double mantissa = 0.0;
  double sign = 1.0;
  bool begun = false;
  long long fraction_digits = -1;  // -1: no point seen
  int exponent_state = 0;          // 0 mantissa, 1 positive exponent, -1 negative
  long long exponent_value = 0;

  void take(int c) {
    if (is_digit(c)) {
      begun = true;
      int digit = c - '0';
      if (exponent_state != 0) {
        add_digit_saturating(exponent_value, digit);
      } else {
        mantissa = mantissa * 10.0 + digit;
        if (fraction_digits >= 0 && fraction_digits < kCountCap) ++fraction_digits;
      }
    } else if (c == '.') {
      if (fraction_digits < 0 && exponent_state == 0) fraction_digits = 0;
    } else if (c == 'e' || c == 'E') {
      exponent_state = 1;
    } else if (c == '-') {
      if (exponent_state == 1) exponent_state = -1;
      if (!begun) {
        begun = true;
        sign = -1.0;
      }
    }
  }

  double finish() const {
    long long fraction = fraction_digits < 0 ? 0 : fraction_digits;
    long long exponent = exponent_value * exponent_state - fraction;
    double result = mantissa;
    // Scaling step by step fixes the stored value bit for bit; once it is 0 or
    // infinite further steps cannot change it, which bounds the loop.
    if (exponent > 0) {
      for (long long i = 0; i < exponent && result != 0.0 && !std::isinf(result); ++i)
        result *= 10.0;
    } else {
      for (long long i = 0; i < -exponent && result != 0.0 && !std::isinf(result); ++i)
        result *= 0.1;
    }
    return result * sign;
  }
};

}  // namespace

int read_real(InputStream& input, double& value) {
  value = 0.0;
  CharSource source(input);
  RealState state;
  for (;;) {
    bool ended_by_separator = false;
    if (source.next(state.begun, ended_by_separator) == Step::kEnd) {
      if (!state.begun) return -1;
      value = state.finish();
      return 0;
    }
    if (ended_by_separator) {
      value = state.finish();
      return 0;
    }
    state.take(input.pending_char);
  }
}

}  // namespace kavrel
