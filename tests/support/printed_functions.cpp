#include "support/printed_functions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>

namespace kavrel_oracle {

namespace {

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  lines.push_back(line);
  return lines;
}

std::string format_g(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

std::string format_symbol(const std::string& name, int exponent) {
  char buffer[64];
  if (exponent >= 2) {
    std::snprintf(buffer, sizeof buffer, "^%-2d", exponent);
    return " " + name + buffer;
  }
  return " " + name + "   ";
}

std::string bucket_header(int power, bool rational) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, rational ? " + s^%-2d * (" : " + s^%-2d (", power);
  return buffer;
}

std::string term_line(const PrintedTerm& term, bool rational) {
  std::string line = "         ";
  if (rational && term.coefficient > 0) line += "+";
  line += format_g(term.coefficient);
  for (const auto& [name, exponent] : term.symbols) {
    if (rational) line += " * ";
    line += format_symbol(name, exponent);
  }
  return line;
}

bool parse_term(const std::string& line, bool rational, PrintedTerm& term) {
  std::istringstream tokens(line);
  std::string token;
  if (!(tokens >> token)) return false;
  char* end = nullptr;
  term.coefficient = std::strtod(token.c_str(), &end);
  if (end == token.c_str() || *end != '\0') return false;
  bool expect_operator = rational;
  while (tokens >> token) {
    if (expect_operator) {
      if (token != "*") return false;
      expect_operator = false;
      continue;
    }
    int exponent = 1;
    std::string name = token;
    const size_t caret = token.rfind('^');
    if (caret != std::string::npos && caret + 1 < token.size() &&
        token.find_first_not_of("0123456789", caret + 1) == std::string::npos) {
      name = token.substr(0, caret);
      exponent = std::atoi(token.c_str() + caret + 1);
    }
    term.symbols.emplace_back(name, exponent);
    expect_operator = rational;
  }
  if (rational && !expect_operator && !term.symbols.empty()) return false;
  return term_line(term, rational) == line;
}

// Reads polynomial lines from position until the line equal to stop.
bool parse_polynomial(const std::vector<std::string>& lines, size_t& position, const std::string& stop,
                      bool rational, PrintedPolynomial& polynomial, std::string& error) {
  bool in_bucket = false;
  int power = 0;
  for (; position < lines.size(); ++position) {
    const std::string& line = lines[position];
    if (line == stop && !in_bucket) return true;
    if (line.empty()) continue;
    if (line.rfind(" + s^", 0) == 0 && !in_bucket) {
      power = std::atoi(line.c_str() + 5);
      if (bucket_header(power, rational) != line || polynomial.buckets.count(power)) {
        error = "bad bucket header: '" + line + "'";
        return false;
      }
      polynomial.buckets[power];
      in_bucket = true;
    } else if (line == "        )" && in_bucket) {
      if (polynomial.buckets[power].empty()) {
        error = "empty bucket s^" + std::to_string(power);
        return false;
      }
      in_bucket = false;
    } else if (line == "        0" && !in_bucket && polynomial.buckets.empty()) {
      polynomial.printed_as_zero = true;
    } else if (in_bucket && line.rfind("         ", 0) == 0) {
      PrintedTerm term;
      if (!parse_term(line, rational, term)) {
        error = "bad term line: '" + line + "'";
        return false;
      }
      polynomial.buckets[power].push_back(term);
    } else {
      error = "unexpected line in polynomial: '" + line + "'";
      return false;
    }
  }
  error = "output ended inside a polynomial";
  return false;
}

bool skip_to(const std::vector<std::string>& lines, size_t& position, const std::string& wanted) {
  while (position < lines.size() && lines[position].empty()) ++position;
  if (position >= lines.size() || lines[position] != wanted) return false;
  ++position;
  return true;
}

}  // namespace

bool parse_printed_functions(const std::string& output, std::vector<PrintedFunction>& functions,
                             std::string& error) {
  const std::vector<std::string> lines = split_lines(output);
  functions.clear();
  for (size_t position = 0; position < lines.size(); ++position) {
    if (lines[position] != " Function:") continue;
    PrintedFunction function;
    if (position + 1 >= lines.size()) {
      error = "output ends after a Function line";
      return false;
    }
    function.header = lines[position + 1];
    size_t at = position + 2;
    while (at < lines.size() && lines[at].empty()) ++at;
    if (at < lines.size() && lines[at] == " Function =") {
      function.rational_form = true;
      const size_t text_start = at + 1;
      ++at;
      if (!skip_to(lines, at, "  ((")) {
        error = "missing '  ((' after ' Function =' for " + function.header;
        return false;
      }
      if (!parse_polynomial(lines, at, " )/(", true, function.numerator, error)) return false;
      ++at;
      if (!parse_polynomial(lines, at, " ))", true, function.denominator, error)) return false;
      for (size_t k = text_start; k <= at; ++k) function.rational_text += lines[k] + "\n";
      ++at;
    } else {
      if (!skip_to(lines, at, " Numerator:")) {
        error = "missing ' Numerator:' for " + function.header;
        return false;
      }
      if (!parse_polynomial(lines, at, " Denominator:", false, function.numerator, error)) return false;
      ++at;
      if (!parse_polynomial(lines, at, " End:", false, function.denominator, error)) return false;
    }
    if (!skip_to(lines, at, " End:")) {
      error = "missing ' End:' for " + function.header;
      return false;
    }
    functions.push_back(function);
    position = at - 1;
  }
  return true;
}

PolynomialValue evaluate_polynomial(const PrintedPolynomial& polynomial,
                                    const std::map<std::string, double>& values,
                                    std::complex<double> s, std::string* unknown_symbol) {
  PolynomialValue result;
  for (const auto& [power, terms] : polynomial.buckets) {
    const std::complex<double> s_power = std::pow(s, power);
    for (const PrintedTerm& term : terms) {
      std::complex<double> product = term.coefficient * s_power;
      for (const auto& [name, exponent] : term.symbols) {
        auto found = values.find(name);
        if (found == values.end()) {
          if (unknown_symbol) *unknown_symbol = name;
          continue;
        }
        product *= std::pow(found->second, exponent);
      }
      result.value += product;
      result.magnitude += std::abs(product);
    }
  }
  return result;
}

std::string to_maxima(const PrintedPolynomial& polynomial) {
  std::string text;
  char buffer[64];
  for (const auto& [power, terms] : polynomial.buckets) {
    for (const PrintedTerm& term : terms) {
      const double c = term.coefficient;
      if (std::nearbyint(c) == c && std::fabs(c) < 1e15)
        std::snprintf(buffer, sizeof buffer, "(%.0f)", c);
      else
        std::snprintf(buffer, sizeof buffer, "(%.17g)", c);
      text += text.empty() ? "" : "+";
      text += buffer;
      text += "*s^" + std::to_string(power);
      for (const auto& [name, exponent] : term.symbols) text += "*" + name + "^" + std::to_string(exponent);
    }
  }
  return text.empty() ? "(0)" : "(" + text + ")";
}

std::vector<std::string> symbols_of(const PrintedPolynomial& polynomial) {
  std::set<std::string> names;
  for (const auto& [power, terms] : polynomial.buckets)
    for (const PrintedTerm& term : terms)
      for (const auto& symbol : term.symbols) names.insert(symbol.first);
  return {names.begin(), names.end()};
}

}  // namespace kavrel_oracle

#include "support/mna.h"

namespace kavrel_oracle {

std::string expected_header(int row, const unsigned port_labels[4], unsigned norm_mode) {
  char buffer[256];
  auto label = [&](int port, int which) { return static_cast<int>(port_labels[2 * (port - 1) + which]); };
  if (row >= 24) {
    const bool chain = row >= 28;
    const int first = (row - 24) % 4 < 2 ? 1 : 2;
    const int second = (row - 24) % 2 == 0 ? 1 : 2;
    const char* normalization = norm_mode == 0 ? "Y0" : norm_mode == 1 ? "Z0" : "unity";
    std::snprintf(buffer, sizeof buffer, " %s( %d, %d; %d, %d) for %s normalization", chain ? "F" : "s",
                  label(first, 0), label(first, 1), label(second, 0), label(second, 1), normalization);
    return buffer;
  }
  const ParameterDefinition& p = ordinary_parameters[row];
  auto quantity = [](const PortQuantity& q) {
    return q.kind == QuantityKind::voltage ? "v" : q.kind == QuantityKind::current ? "i" : "-i";
  };
  std::snprintf(buffer, sizeof buffer, " %s( %d, %d; %d, %d) = %s( %d, %d)/%s( %d, %d) for %s( %d, %d)=0",
                p.letter, label(p.first_port, 0), label(p.first_port, 1), label(p.second_port, 0),
                label(p.second_port, 1), quantity(p.numerator), label(p.numerator.port, 0),
                label(p.numerator.port, 1), quantity(p.denominator), label(p.denominator.port, 0),
                label(p.denominator.port, 1), quantity(p.held), label(p.held.port, 0), label(p.held.port, 1));
  return buffer;
}

int row_of_header(const std::string& header, const unsigned port_labels[4], unsigned norm_mode,
                  int first_row) {
  for (int row = first_row; row < 32; ++row)
    if (expected_header(row, port_labels, norm_mode) == header) return row;
  return -1;
}

bool match_rows(const std::vector<PrintedFunction>& functions, const std::vector<bool>& selected,
                const unsigned port_labels[4], unsigned norm_mode, bool scattering,
                std::vector<RowFunction>& matched, std::string& error) {
  matched.clear();
  std::vector<int> rows;
  for (int row = scattering ? 24 : 0; row < (scattering ? 32 : 24); ++row)
    if (selected[row]) rows.push_back(row);
  std::vector<const PrintedFunction*> printed;
  for (const PrintedFunction& function : functions) {
    const bool is_scattering = function.header.find(" = ") == std::string::npos;
    if (is_scattering == scattering) printed.push_back(&function);
  }
  for (size_t k = 0; k < std::max(rows.size(), printed.size()); ++k) {
    const std::string expected = k < rows.size() ? expected_header(rows[k], port_labels, norm_mode) : "(none)";
    const std::string got = k < printed.size() ? printed[k]->header : "(none)";
    if (expected != got) {
      error = "function " + std::to_string(k + 1) + ": expected header '" + expected + "', printed '" + got + "'";
      return false;
    }
    matched.push_back({rows[k], printed[k]});
  }
  return true;
}

Comparison compare_with_reference(const PolynomialValue& numerator, const PolynomialValue& denominator,
                                  std::complex<double> reference_numerator,
                                  std::complex<double> reference_denominator, double tolerance) {
  auto vanishes = [](const PolynomialValue& p) {
    return p.magnitude == 0.0 || std::abs(p.value) <= 1e-9 * p.magnitude;
  };
  const bool printed_absent = vanishes(numerator) && vanishes(denominator);
  const bool reference_absent = reference_numerator == 0.0 && reference_denominator == 0.0;
  char buffer[512];
  std::snprintf(buffer, sizeof buffer,
                "printed %.10g%+.10gi / %.10g%+.10gi, reference %.10g%+.10gi / %.10g%+.10gi",
                numerator.value.real(), numerator.value.imag(), denominator.value.real(),
                denominator.value.imag(), reference_numerator.real(), reference_numerator.imag(),
                reference_denominator.real(), reference_denominator.imag());
  std::string detail = buffer;
  const std::complex<double> printed_ratio = numerator.value / denominator.value;
  const std::complex<double> reference_ratio = reference_numerator / reference_denominator;
  std::snprintf(buffer, sizeof buffer, " (ratios %.10g%+.10gi and %.10g%+.10gi)", printed_ratio.real(),
                printed_ratio.imag(), reference_ratio.real(), reference_ratio.imag());
  detail += buffer;
  if (printed_absent && reference_absent) return {Verdict::both_absent, detail};
  if (printed_absent != reference_absent) return {Verdict::disagree, detail};
  const double error = std::abs(numerator.value * reference_denominator - denominator.value * reference_numerator);
  const double scale = numerator.magnitude * std::abs(reference_denominator) +
                       denominator.magnitude * std::abs(reference_numerator);
  return {error <= tolerance * scale ? Verdict::agree : Verdict::disagree, detail};
}

}  // namespace kavrel_oracle
