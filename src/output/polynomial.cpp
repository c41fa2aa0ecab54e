#include "output/polynomial.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kavrel {

namespace {

bool bucket_prints_something(const TermStore& store, int power) {
  for (int position = 0; position < store.bucket_count[power]; ++position) {
    if (store.termvalue[poly_entry(store, position, power)] != 0.0) return true;
  }
  return false;
}

// Exponents up to this bound have their "^e" text prepared once per call.
constexpr int kPreparedExponents = 100;

// Symbol texts prepared once per polynomial, so that a term line is put
// together by copying instead of formatting: " name" (preceded by " * " in
// the rational form) for every name index, and the "^e" field of the smaller
// exponents. The pieces join into exactly what " %.12s^%-2d" and " %.12s   "
// print.
struct SymbolTexts {
  char name[kNameSlots][20];
  int name_length[kNameSlots];
  char exponent[kPreparedExponents][8];
  int exponent_length[kPreparedExponents];
};

void prepare_symbol_texts(const NetworkTables& net, bool rational, SymbolTexts& texts) {
  for (int k = 0; k < kNameSlots; ++k) {
    texts.name_length[k] = std::snprintf(texts.name[k], sizeof texts.name[k], "%s %.12s",
                                         rational ? " * " : "", net.branch_name_list[k]);
  }
  texts.exponent_length[1] = std::snprintf(texts.exponent[1], sizeof texts.exponent[1], "   ");
  for (int e = 2; e < kPreparedExponents; ++e) {
    texts.exponent_length[e] =
        std::snprintf(texts.exponent[e], sizeof texts.exponent[e], "^%-2d", e);
  }
}

// Longest line: nine blanks, a sign, a "%g" number and for each of the 104
// names " * ", a blank, 12 characters, "^" and 10 digits.
constexpr int kLineBytes = 64 + kNameSlots * 28;

void append(char* line, int& length, const char* text, int text_length) {
  std::memcpy(line + length, text, static_cast<std::size_t>(text_length));
  length += text_length;
}

void print_term(const SymbolTexts& texts, const Exponent* term, int name_slots, double value,
                bool rational, FILE* out) {
  char line[kLineBytes];
  int length = 0;
  append(line, length, "         ", 9);
  if (rational && value > 0) line[length++] = '+';
  length += format_value(line + length, value);
  for (int k = 0; k < name_slots; ++k) {
    const int exponent = term[k];
    if (exponent <= 0) continue;
    append(line, length, texts.name[k], texts.name_length[k]);
    if (exponent < kPreparedExponents) {
      append(line, length, texts.exponent[exponent], texts.exponent_length[exponent]);
    } else {
      length += std::snprintf(line + length, 16, "^%-2d", exponent);
    }
  }
  line[length++] = '\n';
  std::fwrite(line, 1, static_cast<std::size_t>(length), out);
}

}  // namespace

int format_value(char* text, double value) {
  // Whole numbers below a million, the usual coefficients, print under "%g"
  // as plain integers: they are formatted here directly.
  if (value != 0.0 && value > -1e6 && value < 1e6 &&
      value == static_cast<double>(static_cast<int32_t>(value))) {
    int32_t whole = static_cast<int32_t>(value);
    char digits[12];
    int count = 0;
    const bool negative = whole < 0;
    if (negative) whole = -whole;
    do {
      digits[count++] = static_cast<char>('0' + whole % 10);
      whole /= 10;
    } while (whole > 0);
    int length = 0;
    if (negative) text[length++] = '-';
    while (count > 0) text[length++] = digits[--count];
    return length;
  }
  return std::snprintf(text, kValueTextBytes, "%g", value);
}

void print_polynomial(const NetworkTables& net, const CancellationState& state,
                      const TermStore& store, FILE* out) {
  const bool rational = (net.test_bitmap & kBitRational) != 0;
  SymbolTexts texts;
  prepare_symbol_texts(net, rational, texts);
  bool printed_any = false;
  for (int p = 0; p < kPowerBuckets; ++p) {
    if (!bucket_prints_something(store, p)) continue;
    printed_any = true;
    const int shown_power = p - state.min_power;
    std::fprintf(out, rational ? "\n + s^%-2d * (\n" : "\n + s^%-2d (\n", shown_power);
    for (int position = 0; position < store.bucket_count[p]; ++position) {
      const int row = poly_entry(store, position, p);
      const double value = store.termvalue[row];
      if (value == 0.0) continue;
      print_term(texts, term_row(store, row), store.name_slots, value, rational, out);
    }
    std::fprintf(out, "        )");
  }
  if (!printed_any) std::fprintf(out, "\n        0");
  std::fprintf(out, "\n");
}

}  // namespace kavrel
