// The rational output form (t 4096) is meant for computer algebra systems.
// Maxima reads it and must find it the same rational function as the normal
// form, and, for circuits solved by hand, the same as the textbook result.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "support/printed_functions.h"
#include "support/run_capture.h"

using namespace kavrel_oracle;

namespace {

bool maxima_installed() { return std::system("command -v maxima >/dev/null 2>&1") == 0; }

// Runs a Maxima script with a time bound and returns what Maxima printed.
std::string run_maxima(const std::string& script) {
  char path[] = "/tmp/kavrel_maxima_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return "cannot create a script file";
  {
    std::ofstream out(path);
    out << "display2d:false$\n" << script << "quit()$\n";
  }
  const std::string command = std::string("timeout 120 maxima --very-quiet < ") + path + " 2>&1";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, count);
    pclose(pipe);
  }
  std::remove(path);
  close(fd);
  return output;
}

std::vector<PrintedFunction> functions_of(const std::string& input) {
  std::vector<PrintedFunction> functions;
  std::string error;
  EXPECT_TRUE(parse_printed_functions(kavrel_test::run_kavrel_on(input), functions, error)) << error;
  return functions;
}

std::string rational_expression(const PrintedFunction& function) {
  EXPECT_TRUE(function.rational_form);
  return function.rational_text;
}

std::string normal_expression(const PrintedFunction& function) {
  return to_maxima(function.numerator) + "/" + to_maxima(function.denominator);
}

}  // namespace

TEST(Maxima, RationalFormOfHandSolvedCircuitsIsTheTextbookFunction) {
  if (!maxima_installed()) GTEST_SKIP() << "maxima is not installed (apt-get install -y maxima); CI installs it";
  // Voltage divider with a shunt capacitor, and the Sallen-Key lowpass with a
  // voltage amplifier of gain U.
  const std::vector<PrintedFunction> divider = functions_of("r1 1 2 r2 2 0 c1 2 0 f 1 0 2 0 p g21 t 4096 e\n");
  const std::vector<PrintedFunction> lowpass =
      functions_of("r1 1 4 r2 4 5 c1 2 4 c2 5 3 U 2 3 5 3 f 1 3 2 3 p g21 t 4096 e\n");
  ASSERT_EQ(divider.size(), 1u);
  ASSERT_EQ(lowpass.size(), 1u);
  const std::string script =
      "divider: " + rational_expression(divider[0]) + "$\n" +
      "print(\"CHECK divider\", ratsimp(divider - r2/(r1 + r2 + s*c1*r1*r2)))$\n" +
      "lowpass: " + rational_expression(lowpass[0]) + "$\n" +
      "print(\"CHECK lowpass\", ratsimp(lowpass - U/(s^2*r1*r2*c1*c2 + s*(r1*c2 + r2*c2 + r1*c1*(1 - U)) + 1)))$\n";
  const std::string output = run_maxima(script);
  EXPECT_NE(output.find("CHECK divider 0"), std::string::npos) << output;
  EXPECT_NE(output.find("CHECK lowpass 0"), std::string::npos) << output;
}

TEST(Maxima, RationalFormIsTheSameFunctionAsTheNormalForm) {
  if (!maxima_installed()) GTEST_SKIP() << "maxima is not installed (apt-get install -y maxima); CI installs it";
  // Every element kind that reaches the output, with a negated one-port and
  // a repeated name; all 24 ordinary functions exist for this network.
  const std::string network =
      "r1 1 2 c1 2 0 l1 2 3 gm1 3 0 2 0 r2 3 0 x g1 1 3 r1 3 4 u1 4 0 3 0 z1 4 6 b1 0 5 6 0 r3 5 0 "
      "y1 5 8 rm1 7 0 8 0 r4 7 9 gy1 9 0 2 0 m1 1 0 9 0 f 1 0 9 0 "
      "p g11 p g12 p g21 p g22 p h11 p h12 p h21 p h22 p y11 p y12 p y21 p y22 "
      "p z11 p z12 p z21 p z22 p A p B p C p D p a p b p c p d ";
  const std::vector<PrintedFunction> normal = functions_of(network + "e\n");
  const std::vector<PrintedFunction> rational = functions_of(network + "t 4096 e\n");
  ASSERT_EQ(normal.size(), 24u);
  ASSERT_EQ(rational.size(), normal.size());
  std::string script;
  for (size_t k = 0; k < 24; ++k) {
    ASSERT_EQ(rational[k].header, normal[k].header);
    ASSERT_FALSE(normal[k].denominator.printed_as_zero) << normal[k].header;
    script += "print(\"CHECK " + std::to_string(k) + "\", ratsimp(" + rational_expression(rational[k]) + " - " +
              normal_expression(normal[k]) + "))$\n";
  }
  const std::string output = run_maxima(script);
  for (size_t k = 0; k < 24; ++k)
    EXPECT_NE(output.find("CHECK " + std::to_string(k) + " 0 "), std::string::npos)
        << normal[k].header << "\n" << output;
}
