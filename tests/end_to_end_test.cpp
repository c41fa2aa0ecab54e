#include <gtest/gtest.h>

#include <string>

#include "support/run_capture.h"

using kavrel_test::run_normalized;

namespace {

const char* const kDividerNetlist = "C1 2 0\nR1 1 2\nR2 2 0\nf 1 0 2 0\np g21\n";

std::string whole_run(const std::string& echo, const std::string& analysis) {
  return "{program file name kavrel}\n\ninput data:\n" + echo + "\n\n" + analysis +
         "\ninput data:\n\n{elapsed time: #/1000 sec.}\n";
}

const char* const kDividerHeader =
    " Function:\n g( 2, 0; 1, 0) = v( 2, 0)/v( 1, 0) for i( 2, 0)=0\n";

}  // namespace

// g21 of an RC divider is R2 / (R1 + R2 + s C1 R1 R2): every line ending in a
// symbol of power 1 keeps its three trailing blanks.
TEST(EndToEnd, DividerTransferInNormalForm) {
  std::string input = std::string(kDividerNetlist) + "e\n";
  std::string analysis = std::string(kDividerHeader) +
                         "\n Numerator:\n"
                         "\n + s^0  (\n         1 R2   \n        )\n"
                         "\n Denominator:\n"
                         "\n + s^0  (\n         1 R1   \n         1 R2   \n        )"
                         "\n + s^1  (\n         1 C1    R1    R2   \n        )\n"
                         "\n End:\n\n";
  EXPECT_EQ(run_normalized(input), whole_run(std::string(kDividerNetlist) + "e", analysis));
}

TEST(EndToEnd, DividerTransferInRationalForm) {
  std::string netlist = std::string(kDividerNetlist) + "t 4096\n";
  std::string analysis = std::string(kDividerHeader) +
                         "\n Function =\n  ((\n"
                         "\n + s^0  * (\n         +1 *  R2   \n        )\n"
                         "\n )/(\n"
                         "\n + s^0  * (\n         +1 *  R1   \n         +1 *  R2   \n        )"
                         "\n + s^1  * (\n         +1 *  C1    *  R1    *  R2   \n        )\n"
                         "\n ))\n\n"
                         "\n End:\n\n";
  EXPECT_EQ(run_normalized(netlist + "e\n"), whole_run(netlist + "e", analysis));
}
