#include "output/polynomial.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "output/row_scan.h"

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
// print. Each piece is copied with a fixed length, its own or longer, and
// the line then advances by the piece's real length.
constexpr int kNameCopyBytes = 16;
constexpr int kExponentCopyBytes = 4;
struct SymbolTexts {
  char name[kNameSlots][kNameCopyBytes + 8];
  int name_length[kNameSlots];
  char exponent[kPreparedExponents][kExponentCopyBytes + 4];
  int exponent_length[kPreparedExponents];
};

void prepare_symbol_texts(const NetworkTables& net, bool rational, SymbolTexts& texts) {
  std::memset(&texts, 0, sizeof texts);
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
// names " * ", a blank, 12 characters, "^" and 10 digits; it also bounds the
// fixed-length copies, which overshoot a piece by less than that.
constexpr int kLineBytes = 64 + kNameSlots * 28;

// The polynomial's text is put together here and handed to the stream in
// large writes.
class TextBuffer {
 public:
  explicit TextBuffer(FILE* out) : out_(out) {}
  ~TextBuffer() { flush(); }
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  // Room for `bytes` more characters at the end.
  char* room(int bytes) {
    if (length_ + bytes > kBytes) flush();
    return text_ + length_;
  }
  void advance(int bytes) { length_ += bytes; }
  void put(const char* text, int bytes) {
    std::memcpy(room(bytes), text, static_cast<std::size_t>(bytes));
    advance(bytes);
  }
  void flush() {
    if (length_ > 0) std::fwrite(text_, 1, static_cast<std::size_t>(length_), out_);
    length_ = 0;
  }

 private:
  static constexpr int kBytes = 1 << 14;
  static_assert(kBytes >= 2 * kLineBytes, "a line always fits");
  FILE* out_;
  int length_ = 0;
  char text_[kBytes];
};

// Writes one term line at `line`; returns its length.
int put_term(const SymbolTexts& texts, const Exponent* term, int name_slots, double value,
             bool rational, char* line) {
  char* at = line;
  std::memcpy(at, "         ", 9);
  at += 9;
  if (rational && value > 0) *at++ = '+';
  at += format_value(at, value);
  int k = 0;
  while (k < name_slots) {
    if (k + 8 <= name_slots) {
      uint64_t eight;
      std::memcpy(&eight, term + k, sizeof eight);
      if (eight == 0) {
        k += 8;
        continue;
      }
    }
    const int last = k + 8 <= name_slots ? k + 8 : name_slots;
    for (; k < last; ++k) {
      const int exponent = term[k];
      if (exponent <= 0) continue;
      std::memcpy(at, texts.name[k], kNameCopyBytes);
      at += texts.name_length[k];
      if (exponent < kPreparedExponents) {
        std::memcpy(at, texts.exponent[exponent], kExponentCopyBytes);
        at += texts.exponent_length[exponent];
      } else {
        at += std::snprintf(at, 16, "^%-2d", exponent);
      }
    }
  }
  *at++ = '\n';
  return static_cast<int>(at - line);
}

// The polynomial printed piece by piece, straight through the stream.
void print_polynomial_piecewise(const NetworkTables& net, const CancellationState& state,
                                const TermStore& store, FILE* out) {
  const bool rational = (net.test_bitmap & kBitRational) != 0;
  bool printed_any = false;
  for (int p = 0; p < kPowerBuckets; ++p) {
    if (!bucket_prints_something(store, p)) continue;
    printed_any = true;
    std::fprintf(out, rational ? "\n + s^%-2d * (\n" : "\n + s^%-2d (\n", p - state.min_power);
    for (int position = 0; position < store.bucket_count[p]; ++position) {
      const int row = poly_entry(store, position, p);
      const double value = store.termvalue[row];
      if (value == 0.0) continue;
      std::fprintf(out, "         ");
      if (rational && value > 0) std::fprintf(out, "+");
      std::fprintf(out, "%g", value);
      const Exponent* term = term_row(store, row);
      for (int l = 0; l < store.name_slots; ++l) {
        if (term[l] <= 0) continue;
        if (rational) std::fprintf(out, " * ");
        print_symbol_power(out, net.branch_name_list[l], term[l]);
      }
      std::fprintf(out, "\n");
    }
    std::fprintf(out, "        )");
  }
  if (!printed_any) std::fprintf(out, "\n        0");
  std::fprintf(out, "\n");
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
                      const TermStore& store, FILE* out, bool worded) {
  if (worded) {
    print_polynomial_piecewise(net, state, store, out);
    return;
  }
  const bool rational = (net.test_bitmap & kBitRational) != 0;
  SymbolTexts texts;
  prepare_symbol_texts(net, rational, texts);
  TextBuffer text(out);
  bool printed_any = false;
  for (int p = 0; p < kPowerBuckets; ++p) {
    if (!bucket_prints_something(store, p)) continue;
    printed_any = true;
    char* header = text.room(kLineBytes);
    text.advance(std::snprintf(header, kLineBytes,
                               rational ? "\n + s^%-2d * (\n" : "\n + s^%-2d (\n",
                               p - state.min_power));
    const int count = store.bucket_count[p];
    for (int position = 0; position < count; ++position) {
      if (position + kPrefetchDistance < count) {
        const int ahead = poly_entry(store, position + kPrefetchDistance, p);
        prefetch_row(store, ahead);
        __builtin_prefetch(&store.termvalue[ahead]);
      }
      const int row = poly_entry(store, position, p);
      const double value = store.termvalue[row];
      if (value == 0.0) continue;
      text.advance(put_term(texts, term_row(store, row), store.name_slots, value, rational,
                            text.room(kLineBytes)));
    }
    text.put("        )", 9);
  }
  if (!printed_any) text.put("\n        0", 10);
  text.put("\n", 1);
}

}  // namespace kavrel
