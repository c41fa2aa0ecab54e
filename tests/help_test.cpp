#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "input/help_text.h"
#include "support/memory_streams.h"
#include "support/run_capture.h"

namespace {

const char kSampleHeading[] =
    "sample netlists-- copy and paste to a file to use as input to see output\n\n";

using kavrel_test::help_text;

std::string sample_section() {
  const std::string help = help_text();
  const size_t heading = help.find(kSampleHeading);
  if (heading == std::string::npos) return "";
  return help.substr(heading + sizeof kSampleHeading - 1);
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// Each netlist of the section, "end" included, without the blank line after it.
std::vector<std::string> split_netlists(const std::string& section) {
  std::vector<std::string> netlists;
  size_t start = 0;
  for (size_t end; (end = section.find("end\n\n", start)) != std::string::npos;
       start = end + 5) {
    netlists.push_back(section.substr(start, end + 3 - start));
  }
  return netlists;
}

std::string without_comments(const std::string& text) {
  std::string kept;
  int depth = 0;
  for (char c : text) {
    if (c == '{') ++depth;
    if (depth == 0) kept += c;
    if (c == '}' && depth > 0) --depth;
  }
  return kept;
}

// The entries of a netlist, one per non-empty line outside comments (without the
// blank that stood before a comment), joined by "; ".
std::string entries_of(const std::string& netlist) {
  std::string joined;
  for (std::string line : split_lines(without_comments(netlist))) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (line.empty()) continue;
    if (!joined.empty()) joined += "; ";
    joined += line;
  }
  return joined;
}

size_t count_of(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

TEST(Help, StartsWithHeadingAndUsage) {
  const std::string help = help_text();
  const std::string start = "\n\nhelp:\nusage:\nkavrel <inputfile >outputfile\n\n"
                            "symbolic linear network analysis program";
  EXPECT_EQ(help.substr(0, start.size()), start);
}

TEST(Help, QuotedLinesAppearInOrder) {
  const std::vector<std::string> quoted = {
      "\n\nhelp:\n",
      "usage:\nkavrel <inputfile >outputfile\n",
      "\nsymbolic linear network analysis program",
      "\nMayeda's method for active networks is implemented using a\n",
      "modified Chan's implementation of Minty's algorithm for evaluating\n"
      "spanning trees of network graphs.",
      "\nnetlist element definitions, hints, references, and examples follow:\n",
      "\nthe netlist constitutes entries of one- and two- port elements,\n",
      "\nwhitespace.\n",
      "\ncomments are bracketed; and may be nested: {comments... {comments... } ...}\n",
      "\ninput lines may be concatenated when separated by whitespace:\n",
      "space,tab,cr,lf,comma,semicolon\n",
      "\nnode numbers are arbitrary in the range 0 to 999\n",
      "MAXIMA",
      "Use t 4096 for this option.\n",
      "the first instance of a numeric value for a particular element symbolic reference",
      "<one- or two- port element declaration> <whitespace> v <whitespace> <floating point "
      "number> <whitespace>\n",
      "\nAn x or X separated by <whitespace> preceeding any one- or two-port element causes "
      "the symbolic\n",
      "present in output expressions.\n",
      "\na few examples:\n\nr23 8 4 v 1e3\nr3 6 4 V -11\nL 6 2 v 100\nGM5 1 3 2 4 v 38.4\n"
      "C 6 3 V 4.7e-12\nx c 5 3\nX L12 1 7\nx m12 1 3 5 7\nx r4 6 2\n",
      "\none-port (two-terminal) passive elements:\n"
      "r,l,c,g,y,z (lower case or upper case) prefix, null up to 8 character suffix,\n"
      "whitespace, first node#,whitespace,second node#\n"
      "r<suffix> <n1#> <n2#>\nl<suffix> <n1#> <n2#>\nc<suffix> <n1#> <n2#>\n"
      "g<suffix> <n1#> <n2#>\ny<suffix> <n1#> <n2#>\nz<suffix> <n1#> <n2#>\n"
      "\nexamples--\nr 0 4\nL23a 7 41\ng2 3 8\n"
      "(gm, gy, and rm are reserved for two-port elements)\n",
      "\ntwo-port (four-terminal) active elements:\n"
      "gm,gy,o,u,b,rm,m (lower case or upper case) prefix, null up to 8 character suffix,\n"
      "whitespace, +output node#, whitespace, -output node#, whitespace, +input node#, "
      "whitespace, -input node#,\n"
      "gm<suffix> <+out#> <-out#> <+in#> <-in#>\ngy<suffix> <+out#> <-out#> <+in#> <-in#>\n"
      "o<suffix> <+out#> <-out#> <+in#> <-in#>\nu<suffix> <+out#> <-out#> <+in#> <-in#>\n"
      "b<suffix> <+out#> <-out#> <+in#> <-in#>\nrm<suffix> <+out#> <-out#> <+in#> <-in#>\n"
      "m<suffix> <+out#> <-out#> <+in#> <-in#>\n"
      "positive current enters +nodes except port 2 in ABCD parameters and port 1 in abcd "
      "parameters.\n"
      "gm denotes voltage controlled current source,\n",
      "m denotes a mutual inductance\n\ncontrolled source orientation:\n",
      "examples--\ngm2 1 2 3 4\nU3 3 0 7 5\no 6 3 2 9\nO 3 1 3 4\n",
      "\nmandatory port designator-- \nf (lower case or upper case),\n",
      "\nf <+p1#> <-p1#> <+p2#> <-p2#>\n",
      "\nexamples: y(i,j;k,l) == y12\ng(k,l;i,j) == g21 etc.\n",
      "\ng(9, 10; 3, 7) = v(9, 10)/v(3, 7) for i(9, 10) = 0\nexample--\nf 1 3 2 4\n",
      "\ntwo-port parameter notation:\n"
      "\noptional parameter designator-- may be repeated for multiple parameters;\n"
      "if it is omitted, default is evaluating all 32 parameter functions:\n"
      "p (lower or upper case), whitespace, one of these parameter names:\n"
      "g11 g12 g21 g22 h11 h12 h21 h22 y11 y12 y21 y22 z11 z12 z21 z22\n"
      "A B C D a b c d s11 s12 s21 s22 f11 f12 f21 f22\n"
      "case of letters is sensitive for ABCD and abcd only\n",
      "\nexamples--\np g21\nP y11\np Y12\np a p b p c p d p g21\np A\n",
      "\nn # or N # specifies simple normalization for s and F parameters: 0- Y0, 1- Z0, "
      "2(or greater)- unity\n"
      "if n 0 is omitted, the default is Y0\nexample--\nn 1\n",
      "\nn1 node# node# or N1 node# node# for port 1",
      "\nexample--\nN1 7 18\nn2 11 5\nr01 7 18 v 50\nr02 11 5 v 75\n",
      "\nt # anywhere before end line shows intermediate results: 1-input data dump,2-raw "
      "tree listing,\n"
      "8-matched trees and permutation listing,16-mixed unit trees,32-admittance "
      "trees,64-resource usage\n"
      "4096-output format in rational function expression form for use in\n"
      "computer algebra systems, such as MAXIMA.\n"
      "other values are used for debugging.\n"
      "examples--\nt 65\nt 4096\nt 4160\n",
      "\ne or end  terminates input\nexample--\nend\n",
      "\nhints:\n",
      "\nexample networks at the end demonstrate this\n",
      "\nresource burden of input element types:\n",
      "\n\nparameter summary:\n",
      "\nreferences:\n",
      "\nsample netlists-- copy and paste to a file to use as input to see output\n\n",
  };
  const std::string help = help_text();
  size_t position = 0;
  for (const std::string& text : quoted) {
    const size_t found = help.find(text, position);
    ASSERT_NE(found, std::string::npos) << "missing or out of order:\n" << text;
    position = found + text.size();
  }
}

TEST(Help, FreeWordingSectionsHaveTheirLineCounts) {
  const std::vector<std::string> lines = split_lines(help_text());
  auto index_of = [&](const std::string& line) {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i] == line) return i;
    }
    ADD_FAILURE() << "no line " << line;
    return size_t{0};
  };
  EXPECT_EQ(index_of("whitespace.") - index_of("the netlist constitutes entries of one- and "
                                               "two- port elements,"),
            7u);
  EXPECT_EQ(index_of("present in output expressions.") -
                index_of("An x or X separated by <whitespace> preceeding any one- or two-port "
                         "element causes the symbolic"),
            7u);
  // The eleven lines of the terms of use (the first one blank) stand between the
  // last formula line and the blank line before the references.
  const size_t last_formula =
      index_of(" d12 = i2/-i1 for v1 = 0; topological formula:  Wijij/Wklij");
  const size_t references = index_of("references:");
  EXPECT_EQ(references - last_formula, 11u + 2u);
  EXPECT_TRUE(lines[references - 1].empty());
  // Seven reference lines, two blank lines, then the sample heading.
  EXPECT_EQ(lines[references + 8], "");
  EXPECT_EQ(lines[references + 9], "");
  EXPECT_EQ(lines[references + 10],
            "sample netlists-- copy and paste to a file to use as input to see output");
}

TEST(Help, ResourceTableAndConfiguredLimits) {
  const std::string table =
      "\nresource burden of input element types:\n"
      "elem prefix, branch name list, node list, passive edges, active edges\n"
      "r,l,c,g,y,z        1           no extra         1             0\n"
      " GM, O             1           no extra         0             1\n"
      " GY                2           no extra         0             2\n"
      "  U, B             3            1 extra         1             2\n"
      " RM                5            2 extra         2             3\n"
      "  M               10            6 extra         4             6\n"
      "x prefix of 2port  0           no extra         0             0\n"
      "x prefix of 1port  3            1 extra         2             1\n"
      "any s or F param  12            8 extra         8             4\n"
      "each normalizing   1+          no extra+        0+            1+\n"
      "  network        (+ burden of conjugate for all reactive elements\n"
      "                   in the normalizing networks: L, C, and M as above)\n"
      " the extra nodes and branches are invisible in the output\n"
      " currently configured resource limits exclusive of requirements\n"
      "for s and F parameters:\n"
      "branch name list 90\n"
      "node list 35\n"
      "passive edges 60\n"
      "active edges 30\n"
      "\n"
      "\nparameter summary:\n"
      "these parameters are directly computed:\n"
      "g11, g12, g21, g22, h11, h12, h21, h22,\n"
      "y11, y12, y21, y22, z11, z12, z21, z22,\n"
      "A, B, C, D, a, b, c, d,\n"
      "s11, s12, s21, s22, F11, F12, F21, F22.\n";
  const std::string help = help_text();
  EXPECT_EQ(count_of(help, table), 1u);
}

TEST(Help, PrintsOneFormulaLineForEachOrdinaryParameter) {
  const std::string formulas =
      "s11, s12, s21, s22, F11, F12, F21, F22.\n"
      " g11 = i1/v1 for i2 = 0; topological formula:  V/Wijij\n"
      " g12 = i1/i2 for v1 = 0; topological formula: -Wklij/Wijij\n"
      " g21 = v2/v1 for i2 = 0; topological formula:  Wijkl/Wijij\n"
      " g22 = v2/i2 for v1 = 0; topological formula:  Uijkl/Wijij\n"
      " h11 = v1/i1 for v2 = 0; topological formula:  Uijkl/Wklkl\n"
      " h12 = v1/v2 for i1 = 0; topological formula:  Wklij/Wklkl\n"
      " h21 = i2/i1 for v2 = 0; topological formula: -Wijkl/Wklkl\n"
      " h22 = i2/v2 for i1 = 0; topological formula:  V/Wklkl\n"
      " y11 = i1/v1 for v2 = 0; topological formula:  Wklkl/Uijkl\n"
      " y12 = i1/v2 for v1 = 0; topological formula: -Wklij/Uijkl\n"
      " y21 = i2/v1 for v2 = 0; topological formula: -Wijkl/Uijkl\n"
      " y22 = i2/v2 for v1 = 0; topological formula:  Wijij/Uijkl\n"
      " z11 = v1/i1 for i2 = 0; topological formula:  Wijij/V\n"
      " z12 = v1/i2 for i1 = 0; topological formula:  Wklij/V\n"
      " z21 = v2/i1 for i2 = 0; topological formula:  Wijkl/V\n"
      " z22 = v2/i2 for i1 = 0; topological formula:  Wklkl/V\n"
      " A21 = v1/v2 for i2 = 0; topological formula:  Wijij/Wijkl\n"
      " B21 = v1/-i2 for v2 = 0; topological formula:  Uijkl/Wijkl\n"
      " C21 = i1/v2 for i2 = 0; topological formula:  V/Wijkl\n"
      " D21 = i1/-i2 for v2 = 0; topological formula:  Wklkl/Wijkl\n"
      " a12 = v2/v1 for i1 = 0; topological formula:  Wklkl/Wklij\n"
      " b12 = v2/-i1 for v1 = 0; topological formula:  Uijkl/Wklij\n"
      " c12 = i2/v1 for i1 = 0; topological formula:  V/Wklij\n"
      " d12 = i2/-i1 for v1 = 0; topological formula:  Wijij/Wklij\n";
  const std::string help = help_text();
  EXPECT_EQ(count_of(help, formulas), 1u);
  EXPECT_EQ(count_of(help, "; topological formula: "), 24u);
  for (const char* scattering : {"s11", "s12", "s21", "s22", "F11", "F12", "F21", "F22",
                                 "f11", "f12", "f21", "f22"}) {
    EXPECT_EQ(help.find(std::string("\n ") + scattering + " ="), std::string::npos);
  }
}

TEST(Help, ListsTheTwentyNineSampleNetlists) {
  const std::vector<std::string> expected_entries = {
      "r1 1 4; r2 4 5; c1 2 4; c2 5 3; U 2 3 5 3; f 1 3 2 3; p g21; end",
      "c1 1 4; c2 4 5; r1 4 2; r2 5 3; U 2 3 5 3; f 1 3 2 3; p g21; end",
      "r1 1 4; r2 5 3; c1 4 2; c2 4 5; U 2 3 3 5; f 1 3 2 3; p g21; end",
      "c1 1 4; c2 5 3; r1 4 2; r2 4 5; U 2 3 3 5; f 1 3 2 3; p g21; end",
      "r1 2 4; r2 1 5; c1 4 3; c2 5 4; U 2 3 5 3; f 1 3 2 3; p g21; end",
      "r1 1 5; r2 2 4; c1 5 3; c2 4 5; U 2 3 5 3; f 1 3 2 3; p g21; end",
      "r1 1 4; r2 1 5; c1 2 4; c2 4 5; U 2 3 3 5; f 1 3 2 3; p g21; end",
      "r1 3 4; r2 4 5; c1 2 4; c2 1 5; U 2 3 5 3; f 1 3 2 3; p g21; end",
      "r1 5 3; r2 2 4; c1 1 5; c2 4 5; U 2 3 5 3; f 1 3 2 3; p g21; end",
      "r1 2 4; r2 4 5; c1 1 4; c2 1 5; U 2 3 3 5; f 1 3 2 3; p g21; end",
      "r1 2 4; r2 1 5; c1 1 4; c2 4 5; U 2 3 5 3; f 1 3 2 3; p g21; end",
      "r1 1 4; r2 4 5; c1 2 4; c2 1 5; U 2 3 5 3; f 1 3 2 3; p g21; end",
      "r1 1 4; r1 4 5; r1 6 2; r1 6 2; c1 1 6; c1 6 5; c1 4 2; c1 4 2; U 2 3 5 3; "
      "f 1 3 2 3; p g21; end",
      "z11 1 3; z22 2 4; rm12 3 5 6 7; rm21 4 6 5 7; f 1 7 2 7; end",
      "y11 1 3; y22 2 4; gm21 2 4 1 3; gm12 1 3 2 4; gx 3 4; f 1 3 2 4; end",
      "y11 1 3; y22 2 3; gm21 2 3 1 3; gm12 1 3 2 3; f 1 3 2 3; end",
      "r1 4 7; r1 3 4; r1 5 6; r1 3 6; g1 1 3; g1 1 2; g1 5 2; o 3 7 1 4; o 5 7 2 6; "
      "f 1 7 2 7; p z11 p  z12 p z21 p z22; p y11; p y12; p y21; p y22; end",
      "c1 1 7; c2 2 7; r1 4 7; r1 3 4; r1 5 6; r1 3 6; g1 1 3; g1 1 2; g1 5 2; "
      "o 3 7 1 4; o 5 7 2 6; f 1 7 2 7; p z11; p  z22; end",
      "gy 1 7 2 7; f 1 7 2 7; p z11 p z12 p z21 p z22; p y11; p y12; p y21; p y22; end",
      "c1 1 7; c2 2 7; gy 1 7 2 7; f 1 7 2 7; p z11 p z22; end",
      "opamp 2 0 3 0; rin 1 3; rf 2 3; f 1 0 2 0; p g21; end",
      "opamp 2 0 0 3; rin 1 3; rf 2 3; f 1 0 2 0; p g21; end",
      "uvcvs 2 0 3 0; rin 1 3; rf 2 3; f 1 0 2 0; p g21; end",
      "uvcvs 2 0 0 3; rin 1 3; rf 2 3; f 1 0 2 0; p g21; end",
      "gmvcis 2 0 3 0; rin 1 3; rf 2 3; f 1 0 2 0; p g21; end",
      "gmvcis 2 0 0 3; rin 1 3; rf 2 3; f 1 0 2 0; p g21; end",
      "f 1 2 3 4; p z11; c1 1 3 v 78.56; c2 3 4 v 11.42; c3 4 2 v 1.111; r1 3 4 v 0.0268; "
      "r2 4 2 v 0.03446; end",
      "f 1 2 3 4; p z11; c1 1 3 v 78.56; c2 3 4; c3 4 2 v 1.111; r1 3 4 v 0.0268; "
      "r2 4 2 v 0.03446; end",
      "f 1 2 3 4; p z11; c1 1 3; c2 3 4; c3 4 2; r1 3 4; r2 4 2; end",
  };
  const std::string section = sample_section();
  ASSERT_FALSE(section.empty());
  // The section is the last thing the help prints.
  ASSERT_GE(section.size(), 5u);
  EXPECT_EQ(section.substr(section.size() - 5), "end\n\n");

  const std::vector<std::string> netlists = split_netlists(section);
  ASSERT_EQ(netlists.size(), expected_entries.size());
  for (size_t i = 0; i < netlists.size(); ++i) {
    EXPECT_EQ(entries_of(netlists[i]), expected_entries[i]) << "sample netlist " << i + 1;
  }

  const int circuit_numbers[] = {1, 3, 5, 7, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  for (int i = 0; i < 13; ++i) {
    EXPECT_NE(netlists[i].find("{circuit " + std::to_string(circuit_numbers[i]) + ","),
              std::string::npos)
        << "filter " << i + 1;
  }
  EXPECT_NE(netlists[0].find("1955"), std::string::npos);
  EXPECT_EQ(netlists[13].find("{examples to show parameter equivalences:}\n"), 0u);
  EXPECT_EQ(netlists[18].find("{compare to native gyrator}\n"), 0u);
  EXPECT_EQ(netlists[20].find("{examples to show ambiguity due to the nullor model of opamps}\n"
                              "{ideal opamp, positive feedback}\n"),
            0u);
  EXPECT_EQ(netlists[21].find("{ideal opamp, negative feedback}\n"), 0u);
  EXPECT_EQ(netlists[22].find("{vcvs, positive feedback}\n"), 0u);
  EXPECT_EQ(netlists[23].find("{vcvs, negative feedback}\n"), 0u);
  EXPECT_EQ(netlists[24].find("{vcis, negative feedback}\n"), 0u);
  EXPECT_EQ(netlists[25].find("{vcis, positive feedback}\n"), 0u);
  EXPECT_EQ(netlists[26].find("{example demonstrating numeric value substitution}\n"), 0u);
  EXPECT_NE(netlists[27].find("\nc2 3 4 {v 11.42}\n"), std::string::npos);
  EXPECT_NE(netlists[28].find("\nc1 1 3 {v 78.56}\n"), std::string::npos);
}

TEST(Help, SamplesFileIsTheHelpsSampleSection) {
  EXPECT_EQ(read_file(std::string(KAVREL_SOURCE_DIR) + "/examples/samples.net"),
            sample_section());
}

const char kBanner[] = "{program file name kavrel}\n";
const char kElapsed[] = "{elapsed time: #/1000 sec.}\n";

TEST(HelpRun, HelpEntryPrintsHelpAfterTheEchoAndStopsTheRun) {
  const std::string expected = std::string(kBanner) + "\ninput data:\n{first} r1 1 2\nh" +
                               help_text() + kElapsed;
  EXPECT_EQ(kavrel_test::run_normalized("{first} r1 1 2\nh r2 2 3 f 1 0 2 0 e\nr3 1 2 e\n"),
            expected);
}

TEST(HelpRun, AnyWordStartingWithHAsksForHelp) {
  EXPECT_EQ(kavrel_test::run_normalized("Help"),
            std::string(kBanner) + "\ninput data:\nHelp" + help_text() + kElapsed);
}

TEST(HelpRun, NetlistAnalysedBeforeTheHelpStaysPrinted) {
  const std::string output =
      kavrel_test::run_normalized("r1 1 0 r2 2 0 r3 1 2 f 1 0 2 0 p z11 e\nH\nr4 1 0 f 1 0 2 0 e\n");
  const std::string tail = "\ninput data:\n\nH" + help_text() + kElapsed;
  ASSERT_GE(output.size(), tail.size());
  EXPECT_EQ(output.substr(output.size() - tail.size()), tail);
  EXPECT_EQ(count_of(output, " Function:\n"), 1u);
  EXPECT_EQ(count_of(output, "\ninput data:\n"), 2u);
}

TEST(HelpRun, MalformedNormalizationEntryPrintsUsageThenHelp) {
  EXPECT_EQ(kavrel_test::run_normalized("r1 1 0 n5 1 2 e\n"),
            std::string(kBanner) + "\ninput data:\nr1 1 0 n5" +
                "n1 node# node#  or n2 node# node# is proper usage for\n"
                "scattering parameter normalizing network references\n" +
                help_text() + kElapsed);
}

TEST(HelpRun, SampleNetlistsAreReadWithoutReaderMessagesAndAnalysed) {
  const std::string samples = sample_section();
  const std::string output = kavrel_test::run_normalized(samples);
  for (const char* message :
       {"unrecognized element prefix", "does not match the list of parameter names",
        "was truncated", "exceeds limit", "please provide a port node indication",
        "must be less than 1000", "more than one port indicator"}) {
    EXPECT_EQ(output.find(message), std::string::npos) << message;
  }

  // Every netlist is echoed whole (its numbers re-print as written), and the
  // reader is called once more after the last one.
  const std::vector<std::string> netlists = split_netlists(samples);
  ASSERT_EQ(netlists.size(), 29u);
  for (size_t i = 0; i < netlists.size(); ++i) {
    const std::string echo =
        std::string("\ninput data:\n") + (i == 0 ? "" : "\n\n") + netlists[i] + "\n\n";
    EXPECT_NE(output.find(echo), std::string::npos) << "echo of sample netlist " << i + 1;
  }
  EXPECT_EQ(count_of(output, "\ninput data:\n"), 30u);

  // 19 netlists select g21 alone, three select all 32 parameters, the gyrators
  // 8, 2, 8 and 2, the numeric examples one each.
  EXPECT_EQ(count_of(output, " Function:\n"), 19u + 3u * 32u + 20u + 3u);
  EXPECT_EQ(output.substr(output.size() - std::string(kElapsed).size()), kElapsed);
}

}  // namespace
