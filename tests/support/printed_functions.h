#pragma once

// kavrel's printed functions read back: the header lines, and numerator and
// denominator as polynomials in s with numeric coefficients and symbol
// products, in the normal and in the rational (t 4096) form.

#include <complex>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kavrel_oracle {

struct PrintedTerm {
  double coefficient = 0.0;
  std::vector<std::pair<std::string, int>> symbols;  // name, exponent
};

struct PrintedPolynomial {
  std::map<int, std::vector<PrintedTerm>> buckets;  // power of s -> terms
  bool printed_as_zero = false;  // the lone "0" line
};

struct PrintedFunction {
  std::string header;  // the line after " Function:" (without its line break)
  bool rational_form = false;
  std::string rational_text;  // rational form: from "((" to "))" inclusive
  PrintedPolynomial numerator;
  PrintedPolynomial denominator;
};

// Every function of one output, in order. On malformed text returns false
// and describes the first problem in error.
bool parse_printed_functions(const std::string& output, std::vector<PrintedFunction>& functions,
                             std::string& error);

struct PolynomialValue {
  std::complex<double> value;
  double magnitude = 0.0;  // sum of the magnitudes of the terms
};

// Evaluates at the given symbol values and s. A symbol missing from values
// is reported in unknown_symbol (and counts as 1).
PolynomialValue evaluate_polynomial(const PrintedPolynomial& polynomial,
                                    const std::map<std::string, double>& values,
                                    std::complex<double> s, std::string* unknown_symbol = nullptr);

// The polynomial as a Maxima expression, e.g. "(1*R2+s*(1*C1*R1*R2))".
std::string to_maxima(const PrintedPolynomial& polynomial);

// Every symbol name occurring in the polynomial.
std::vector<std::string> symbols_of(const PrintedPolynomial& polynomial);

}  // namespace kavrel_oracle

namespace kavrel_oracle {

// The line after " Function:" that kavrel should print for an ordinary row
// (0..23) or a scattering row (24..31), from the port labels of the f entry.
std::string expected_header(int row, const unsigned port_labels[4], unsigned norm_mode);

// Row (0..31) whose expected header equals the given line, searching from
// first_row on; -1 when none does.
int row_of_header(const std::string& header, const unsigned port_labels[4], unsigned norm_mode,
                  int first_row = 0);

// How a printed function compares with a reference pair (numerator,
// denominator) known up to a common nonzero factor.
enum class Verdict { agree, both_absent, disagree };

struct Comparison {
  Verdict verdict;
  std::string detail;
};

// Pairs each printed function of one netlist with its row. Functions of the
// kind not asked for (ordinary rows 0..23 or scattering rows 24..31) are left
// out; the headers of the others must be exactly those of the selected rows
// of that kind, in row order, or error says what differs.
struct RowFunction {
  int row;
  const PrintedFunction* function;
};
bool match_rows(const std::vector<PrintedFunction>& functions, const std::vector<bool>& selected,
                const unsigned port_labels[4], unsigned norm_mode, bool scattering,
                std::vector<RowFunction>& matched, std::string& error);

Comparison compare_with_reference(const PolynomialValue& numerator, const PolynomialValue& denominator,
                                  std::complex<double> reference_numerator,
                                  std::complex<double> reference_denominator, double tolerance);

}  // namespace kavrel_oracle
