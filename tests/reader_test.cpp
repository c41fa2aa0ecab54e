#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "input/help_text.h"
#include "input/netlist_reader.h"
#include "input/node_numbering.h"
#include "support/memory_streams.h"

namespace {

using kavrel::NetworkTables;

// Reads netlists from a fixed text into one set of tables; the echo is
// collected in memory.
class Reader : public kavrel_test::TextInput {
 public:
  explicit Reader(const std::string& text)
      : TextInput(text), net(std::make_unique<NetworkTables>()) {}
  int read() { return kavrel::read_netlist(input, *net); }
  std::string name(int slot) const { return net->branch_name_list[slot]; }

  std::unique_ptr<NetworkTables> net;
};

using kavrel_test::help_text;

const char kNoPortRequest[] =
    "please provide a port node indication: f (lower case or upper case),\n"
    "whitespace, +port1 node#, whitespace, -port1 node#, whitespace, +port2 node#, whitespace, "
    "-port2 node#\n\r"
    "example:\n"
    "f 1 0 2 4\n";

std::string repeat_entries(const char* format, int first, int last) {
  std::string text;
  char entry[64];
  for (int i = first; i <= last; ++i) {
    std::snprintf(entry, sizeof entry, format, i, i + 1);
    text += entry;
  }
  return text;
}

TEST(Reader, SmallNetlistFillsTheTables) {
  Reader r("r1 1 2, f 1 0 2 0, e\n");
  ASSERT_EQ(r.read(), 0);
  EXPECT_EQ(r.echo(), "\ninput data:\nr1 1 2, f 1 0 2 0, e\n\n");
  const NetworkTables& n = *r.net;
  EXPECT_EQ(n.branch_name_count, 2);
  EXPECT_EQ(r.name(1), "x");
  EXPECT_EQ(r.name(2), "r1");
  EXPECT_EQ(n.passive_edge_count, 2);
  EXPECT_EQ(n.passive_edges[1].name, 1);
  EXPECT_EQ(n.passive_edges[1].node1, 4);
  EXPECT_EQ(n.passive_edges[1].node2, 1);
  EXPECT_EQ(n.passive_edges[2].name, 2);
  EXPECT_EQ(n.passive_edges[2].node1, 1);
  EXPECT_EQ(n.passive_edges[2].node2, 2);
  EXPECT_EQ(n.active_edge_count, 0);
  EXPECT_EQ(n.node_count, 4);
  EXPECT_EQ(n.node_list[1], 1);
  EXPECT_EQ(n.node_list[2], 2);
  EXPECT_EQ(n.node_list[3], 0);
  EXPECT_EQ(n.node_list[4], 0);
  EXPECT_EQ(n.passive_snapshot, 2);
  EXPECT_EQ(n.tree_branch_count, 3);
  EXPECT_EQ(n.port_labels[2], 2);
  EXPECT_EQ(n.port_nodes[0], 1);
  EXPECT_EQ(n.port_nodes[1], 3);
  EXPECT_EQ(n.port_nodes[2], 2);
  EXPECT_EQ(n.port_nodes[3], 3);
  for (int row = 0; row < 32; ++row) EXPECT_EQ(n.param_selected[row], 1);
}

TEST(Reader, SecondNetlistStartsFromTheResetState) {
  Reader r("x t 2 n 1 n2 1 2 p g21 v 3 f 1 0 2 0 e\n r2 7 8 f 7 8 7 8 e\n");
  ASSERT_EQ(r.read(), 0);
  EXPECT_EQ(r.net->netlist_count, 1);
  ASSERT_EQ(r.read(), 0);
  const NetworkTables& n = *r.net;
  EXPECT_EQ(n.netlist_count, 2);
  for (int row = 0; row < 32; ++row) EXPECT_EQ(n.param_selected[row], 1);
  EXPECT_EQ(n.test_bitmap, 0);
  EXPECT_EQ(n.norm_mode, 0);
  EXPECT_EQ(n.norm_network_nodes[2], 0);
  EXPECT_EQ(n.negate_next, 0);
  EXPECT_EQ(n.numeric_values[2], 0.0);  // the value was meant for the first netlist's next element
  EXPECT_EQ(n.node_list[1], 7);
  EXPECT_EQ(n.node_count, 3);
  EXPECT_EQ(n.passive_edge_count, 2);
  EXPECT_EQ(r.read(), 1);
  EXPECT_EQ(r.echo(),
            "\ninput data:\nx t 2 n 1 n2 1 2 p g21 v 3 f 1 0 2 0 e\n\n"
            "\ninput data:\n\n r2 7 8 f 7 8 7 8 e\n\n"
            "\ninput data:\n\n");
}

TEST(Reader, ValueAsFirstEntryGoesToTheReservedName) {
  Reader r("v 5 r1 1 2 f 1 0 2 0 e");
  ASSERT_EQ(r.read(), 0);
  EXPECT_EQ(r.net->numeric_values[1], 5.0);
  EXPECT_EQ(r.net->numeric_values[2], 0.0);
}

TEST(Reader, EqualNamesShareTheValueOfTheirLowestValuedSlot) {
  Reader r("r1 1 2 v 5, r1 2 3, r1 3 4 v 7 r2 1 3 v 0, r2 2 3 v 4 f 1 0 2 0 e");
  ASSERT_EQ(r.read(), 0);
  const NetworkTables& n = *r.net;
  EXPECT_EQ(n.numeric_values[2], 5.0);
  EXPECT_EQ(n.numeric_values[3], 5.0);
  EXPECT_EQ(n.numeric_values[4], 5.0);
  EXPECT_EQ(n.numeric_values[5], 4.0);
  EXPECT_EQ(n.numeric_values[6], 4.0);
}

TEST(Reader, ValueAfterANonElementEntryGoesToTheNextElement) {
  Reader r("r1 1 2 t 0 v 6 v 8 g1 1 2 f 1 0 2 0 e");
  ASSERT_EQ(r.read(), 0);
  EXPECT_EQ(r.net->numeric_values[2], 0.0);
  EXPECT_EQ(r.net->numeric_values[3], 8.0);
}

TEST(Reader, RealValuesAreEchoedAsStored) {
  Reader r("r1 1 2 v 1.5e3 v .5 v 5. v 1.2.3 v 3-4 v 1e3-2 v 12k v - v 1E+3 v 1e-3e4 v -1.5e-3 "
           "v 38.4 f 1 0 2 0 e\n");
  ASSERT_EQ(r.read(), 0);
  EXPECT_EQ(r.echo(),
            "\ninput data:\nr1 1 2 v 1500 v 0.5 v 5 v 1.23 v 34 v 1e-32 v 12 v -0 v 1000 v 1e+34 "
            "v -0.0015 v 38.4 f 1 0 2 0 e\n\n");
  EXPECT_EQ(r.net->numeric_values[2], 38.400000000000006);
}

TEST(Reader, LongNamesAreTruncatedToTwelveCharactersAndThenCompared) {
  Reader r("r1234567890abc 1 2 r1234567890abXYZ 2 3 f 1 0 2 0 e\n");
  ASSERT_EQ(r.read(), 0);
  EXPECT_EQ(r.echo(),
            "\ninput data:\nfollowing branch name was truncated to 12 characters:\nr1234567890a 1 2 "
            "following branch name was truncated to 12 characters:\nr1234567890a 2 3 f 1 0 2 0 e\n\n");
  EXPECT_EQ(r.name(3), "r1234567890a");
  EXPECT_EQ(r.net->branchmap[3], 2);
}

TEST(Reader, ParameterSelection) {
  Reader r("p A p a21 p Y21 P a12 parameter g11 f 1 0 2 0 e");
  ASSERT_EQ(r.read(), 0);
  EXPECT_EQ(r.echo(),
            "\ninput data:\np A p a21 a21 does not match the list of parameter names, see help "
            "info.\n p Y21 P a12 parameter g11 f 1 0 2 0 e\n\n");
  for (int row = 0; row < 32; ++row) {
    const bool wanted = row == 0 || row == 10 || row == 16 || row == 20;
    EXPECT_EQ(r.net->param_selected[row], wanted ? 1 : 0) << row;
  }
}

TEST(Reader, ParameterWordsAreNeitherTruncatedNorStored) {
  Reader r("r1 1 2 p abcdefghijklmnop f 1 0 2 0 e");
  ASSERT_EQ(r.read(), 0);
  EXPECT_NE(r.echo().find("p abcdefghijklmnop abcdefghijklmnop does not match"), std::string::npos);
  EXPECT_EQ(r.echo().find("truncated"), std::string::npos);
}

TEST(Reader, NormalizationEntries) {
  Reader r("n 3 n 4294967295 n12 3 4 N2 5 3 r1 3 5 f 3 0 5 0 e");
  ASSERT_EQ(r.read(), 0);
  const NetworkTables& n = *r.net;
  EXPECT_EQ(n.norm_mode, -1);
  EXPECT_EQ(n.norm_network_nodes[0], 1);
  EXPECT_EQ(n.norm_network_nodes[1], 2);
  EXPECT_EQ(n.norm_network_nodes[2], 3);
  EXPECT_EQ(n.norm_network_nodes[3], 1);
  EXPECT_EQ(n.node_list[2], 4);
  EXPECT_EQ(n.node_list[3], 5);
}

TEST(Reader, TestBitmapTakesTheNumberAsSigned) {
  Reader r("t 7 T 4294967280 r1 1 2 f 1 0 2 0 e");
  ASSERT_EQ(r.read(), 0);
  EXPECT_EQ(r.net->test_bitmap, -16);
  EXPECT_NE(r.echo().find("T 4294967280 r1"), std::string::npos);
}

TEST(Reader, NegationSurvivesEntriesThatAreNotElements) {
  Reader r("x f 1 0 2 0 t 0 r1 1 2 r2 1 2 e");
  ASSERT_EQ(r.read(), 0);
  EXPECT_EQ(r.net->branch_name_count, 6);
  EXPECT_EQ(r.name(3), "o");
  EXPECT_EQ(r.name(6), "r2");
  EXPECT_EQ(r.net->negate_next, 0);
}

TEST(Reader, NodeNumberingAndNameIndex) {
  Reader r("r1 5 0, c1 0 17, r1 17 5, x g1 5 0, f 5 0 17 0, e");
  ASSERT_EQ(r.read(), 0);
  const NetworkTables& n = *r.net;
  const char* texts[] = {"", "x", "r1", "c1", "r1", "g1", "o", "a", "a"};
  const int branchmap[] = {0, 1, 2, 3, 2, 5, 6, 7, 7};
  ASSERT_EQ(n.branch_name_count, 8);
  for (int slot = 1; slot <= 8; ++slot) {
    EXPECT_EQ(r.name(slot), texts[slot]) << slot;
    EXPECT_EQ(n.branchmap[slot], branchmap[slot]) << slot;
    EXPECT_EQ(n.powermap[slot], slot == 3 ? 1 : 0) << slot;
    EXPECT_EQ(n.fmap[slot], slot == 6 ? 1 : (slot >= 7 ? 16 : 0)) << slot;
  }
  EXPECT_EQ(n.impedance_count, 1);
  EXPECT_EQ(n.impedance_list[0], 2);
  const int labels[] = {0, 5, 0, 17, 1000, 1001, 0};
  ASSERT_EQ(n.node_count, 6);
  for (int node = 1; node <= 6; ++node) EXPECT_EQ(n.node_list[node], labels[node]) << node;
}

TEST(Reader, NamesAreCaseSensitiveAndClassifiedByTheirFirstOccurrence) {
  Reader r("R1 1 2 r1 1 2 L1 1 2 L1 2 3 mx 1 2 3 4 zz 1 2 f 1 0 2 0 e");
  ASSERT_EQ(r.read(), 0);
  const NetworkTables& n = *r.net;
  EXPECT_EQ(n.branchmap[3], 3);
  EXPECT_EQ(n.branchmap[5], 4);
  EXPECT_EQ(n.powermap[5], 1);
  // Impedance symbols once each, in order of first occurrence: R1 r1 L1 mx zz.
  ASSERT_EQ(n.impedance_count, 5);
  EXPECT_EQ(n.impedance_list[0], 2);
  EXPECT_EQ(n.impedance_list[1], 3);
  EXPECT_EQ(n.impedance_list[2], 4);
  EXPECT_EQ(n.impedance_list[3], 6);
  EXPECT_EQ(n.impedance_list[4], 16);
}

TEST(NodeNumbering, FullNodeListsAreRefusedWithNodeOne) {
  auto net = std::make_unique<NetworkTables>();
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  net->node_count = 35;
  net->node_list[7] = 500;
  EXPECT_EQ(kavrel::node_of_label(*net, out, 500), 7);  // existing labels are still found
  EXPECT_EQ(kavrel::node_of_label(*net, out, 501), 1);
  net->last_generated_label = 1010;
  EXPECT_EQ(kavrel::new_internal_node(*net, out), 36);
  EXPECT_EQ(net->node_list[36], 1011);
  net->node_count = 43;
  EXPECT_EQ(kavrel::new_internal_node(*net, out), 1);
  EXPECT_EQ(net->node_count, 43);
  std::fclose(out);
  EXPECT_EQ(std::string(buffer, size),
            "number of nodes(= 35) exceeds limit of 34\n or improper input applied\n"
            "number of nodes(= 43) exceeds limit of 42\n or improper input applied\n");
  std::free(buffer);
}

TEST(NodeNumbering, FindFirstNameReportsASlotWithoutEqualText) {
  auto net = std::make_unique<NetworkTables>();
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  net->branch_name_count = 2;
  std::strcpy(net->branch_name_list[1], "x");
  std::strcpy(net->branch_name_list[2], "r1");
  std::strcpy(net->branch_name_list[3], "c9");
  EXPECT_EQ(kavrel::find_first_name(*net, out, 2), 2);
  EXPECT_EQ(kavrel::find_first_name(*net, out, 3), 3);
  std::fclose(out);
  EXPECT_EQ(std::string(buffer, size), "can't find c9 <=> branch[3] in 2 branches\n");
  std::free(buffer);
}

// Each failure of the reader, with its complete output.
TEST(ReaderFailures, EndOfInputAtEntryStartOrInsideAnEntry) {
  Reader empty("");
  EXPECT_EQ(empty.read(), 1);
  EXPECT_EQ(empty.echo(), "\ninput data:\n");

  Reader two_port("r1 1 2 u1 1 2 ");
  EXPECT_EQ(two_port.read(), 1);
  EXPECT_EQ(two_port.echo(), "\ninput data:\nr1 1 2 u1 1 2 ");

  Reader value("r1 1 2 v {unfinished");
  EXPECT_EQ(value.read(), 1);
  EXPECT_EQ(value.echo(), "\ninput data:\nr1 1 2 v {unfinished");

  Reader param("p");
  EXPECT_EQ(param.read(), 1);
  EXPECT_EQ(param.echo(), "\ninput data:\np");
}

TEST(ReaderFailures, UnrecognizedEntry) {
  Reader r("r1 1 2\nqwertyuiopasdf 1 2\n");
  EXPECT_EQ(r.read(), 1);
  EXPECT_EQ(r.echo(),
            "\ninput data:\nr1 1 2\nfollowing branch name was truncated to 12 characters:\n"
            "qwertyuiopasunrecognized element prefix-- 'qwertyuiopas': must be "
            "r,l,c,g,y,z,gm,gy,o,u,b,rm,m,n,p,f,e,v,x\nh as input prints help\n");
}

TEST(ReaderFailures, SecondPortDesignator) {
  Reader r("f 1 0 2 0 F 1 0 2 0");
  EXPECT_EQ(r.read(), 1);
  EXPECT_EQ(r.echo(),
            "\ninput data:\nf 1 0 2 0 Ferror-- more than one port indicator is used\n");
}

TEST(ReaderFailures, MalformedNormalizationEntry) {
  Reader r("r1 1 2 n3 4 5");
  EXPECT_EQ(r.read(), 1);
  EXPECT_EQ(r.echo(),
            "\ninput data:\nr1 1 2 n3n1 node# node#  or n2 node# node# is proper usage for\n"
            "scattering parameter normalizing network references\n" +
                help_text());
}

TEST(ReaderFailures, HelpEntry) {
  Reader r("r1 1 2\nhelp me");
  EXPECT_EQ(r.read(), 1);
  EXPECT_EQ(r.echo(), "\ninput data:\nr1 1 2\nhelp" + help_text());
}

TEST(ReaderFailures, NoPortDesignator) {
  Reader r("r1 1 2 End\n");
  EXPECT_EQ(r.read(), 1);
  EXPECT_EQ(r.echo(), std::string("\ninput data:\nr1 1 2 End\n\n") + kNoPortRequest);
}

TEST(ReaderFailures, LabelOfAThousandOrMoreStandsForNodeOne) {
  Reader r("r1 1 1000 r2 4294967295 2 r3 4294967296 1 f 1 0 2 0 e");
  ASSERT_EQ(r.read(), 0);
  EXPECT_EQ(r.echo(),
            "\ninput data:\nr1 1 1000node label 1000 must be less than 1000\n"
            " r2 4294967295 2node label 4294967295 must be less than 1000\n"
            " r3 4294967296 1node label 4294967296 must be less than 1000\n"
            " f 1 0 2 0 e\n\n");
  const NetworkTables& n = *r.net;
  EXPECT_EQ(n.passive_edges[2].node1, 1);
  EXPECT_EQ(n.passive_edges[2].node2, 1);
  EXPECT_EQ(n.passive_edges[3].node1, 1);
  EXPECT_EQ(n.passive_edges[3].node2, 2);
  // 2^32 saturates instead of wrapping to 0: refused, node 1 in its place.
  EXPECT_EQ(n.passive_edges[4].node1, 1);
  EXPECT_EQ(n.passive_edges[4].node2, 1);
  EXPECT_EQ(n.node_list[3], 0);  // label 0 of the port entry
}

TEST(ReaderFailures, PortLabelsBeyondTheSignedRangeAreNeverNegative) {
  Reader r("r1 1 2 f 1 3000000000 2 0 e");
  ASSERT_EQ(r.read(), 0);
  EXPECT_EQ(r.net->port_labels[1], 2147483647);
  EXPECT_EQ(r.net->port_nodes[1], 1);
}

TEST(ReaderLimits, OnePortElements) {
  const std::string entries = repeat_entries("r%d 1 2\n", 1, 58);
  Reader at_limit(entries + "f 1 0 2 0 e");
  EXPECT_EQ(at_limit.read(), 0);
  EXPECT_EQ(at_limit.net->passive_edge_count, 59);

  Reader past(entries + "r59 1 2 e");
  EXPECT_EQ(past.read(), 1);
  EXPECT_EQ(past.echo(), "\ninput data:\n" + entries +
                             "r59 1 2number of one-port elements(= 60) exceeds limit of 59\n"
                             " or improper input applied\n");
}

TEST(ReaderLimits, TwoPortElements) {
  const std::string entries = repeat_entries("gm%d 1 2 3 4\n", 1, 30);
  Reader past(entries + "f 1 0 2 0 e");
  EXPECT_EQ(past.read(), 1);
  EXPECT_EQ(past.echo(), "\ninput data:\n" + entries.substr(0, entries.size() - 1) +
                             "number of two-port elements(= 30) exceeds limit of 29\n"
                             " or improper input applied\n");
  Reader at_limit(repeat_entries("gm%d 1 2 3 4\n", 1, 29) + "f 1 0 2 0 e");
  EXPECT_EQ(at_limit.read(), 0);
}

TEST(ReaderLimits, NodesIncludeTheReservedOne) {
  // r1 0 2 ... r32 0 33 use 33 labels; with the reserved node that is 34.
  Reader at_limit(repeat_entries("r%d 0 %d ", 1, 32) + "f 2 0 3 0 e");
  ASSERT_EQ(at_limit.read(), 0);
  EXPECT_EQ(at_limit.net->node_count, 34);

  const std::string entries = repeat_entries("r%d 0 %d\n", 1, 33);
  Reader past(entries + "f 2 0 3 0 e");
  EXPECT_EQ(past.read(), 1);
  EXPECT_EQ(past.echo(), "\ninput data:\n" + entries +
                             "f 2 0 3 0 enumber of nodes(= 35) exceeds limit of 34\n"
                             " or improper input applied\n");
}

TEST(ReaderLimits, LabelledNodesPastTheLimitAreRefusedWithinTheEntry) {
  const std::string entries = repeat_entries("r%d 0 %d\n", 1, 33);  // 34 nodes
  Reader r(entries + "r99 100 101");
  EXPECT_EQ(r.read(), 1);
  EXPECT_EQ(r.echo(), "\ninput data:\n" + entries +
                          "r99 100 101number of nodes(= 35) exceeds limit of 34\n"
                          " or improper input applied\n"
                          "number of nodes(= 35) exceeds limit of 34\n"
                          " or improper input applied\n");
  EXPECT_EQ(r.net->passive_edges[35].node1, 35);
  EXPECT_EQ(r.net->passive_edges[35].node2, 1);
}

TEST(ReaderLimits, OneEntryOvershootingEveryLimitStaysInsideTheTables) {
  // 59 passive edges, 29 active edges and 88 names before the mutual inductance.
  const std::string entries =
      repeat_entries("r%d 1 2 ", 1, 58) + repeat_entries("gm%d 1 2 3 4 ", 1, 29);
  Reader r(entries + "x m1 1 2 3 4 v 3 e");
  EXPECT_EQ(r.read(), 1);
  const NetworkTables& n = *r.net;
  EXPECT_EQ(n.passive_edge_count, 63);
  EXPECT_EQ(n.active_edge_count, 35);
  EXPECT_EQ(n.branch_name_count, 98);
  EXPECT_EQ(n.mutual_flag[30], 1);
  EXPECT_EQ(n.mutual_flag[33], 1);
  EXPECT_EQ(r.name(98), "a");
  EXPECT_NE(r.echo().find("m1 1 2 3 4number of one-port elements(= 63) exceeds limit of 59\n"),
            std::string::npos);
}

TEST(ReaderLimits, MutualInductanceOnAFullNodeList) {
  const std::string entries = repeat_entries("r%d 0 %d ", 1, 33);  // 34 nodes
  Reader r(entries + "m1 100 1 2 3");
  EXPECT_EQ(r.read(), 1);
  EXPECT_EQ(r.net->node_count, 40);
  EXPECT_EQ(r.net->node_list[40], 1005);
}

TEST(ReaderRobustness, RandomBytesNeverEscapeTheTables) {
  std::mt19937 random(12345);
  const std::string alphabet = "rlcgyzmoubxfpnetvhRGMYO0123456789 ,;\n{}.-e";
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 400);
    for (int i = 0; i < length; ++i) {
      if (random() % 4 == 0)
        text += static_cast<char>(random() % 256);
      else
        text += alphabet[random() % alphabet.size()];
    }
    Reader r(text);
    for (int netlist = 0; netlist < 50 && r.read() == 0; ++netlist) {
      const NetworkTables& n = *r.net;
      ASSERT_LE(n.node_count, 34);
      ASSERT_LT(n.passive_edge_count, 60);
      ASSERT_LT(n.active_edge_count, 30);
      ASSERT_EQ(n.branch_name_count, n.passive_edge_count + n.active_edge_count);
    }
  }
}

TEST(ReaderRobustness, HugeWordsAndDeepComments) {
  Reader r(std::string(100000, 'r') + " 1 2 " + std::string(1000000, '{') +
           std::string(1000000, '}') + "f 1 0 2 0 e");
  ASSERT_EQ(r.read(), 0);
  EXPECT_EQ(r.name(2), "rrrrrrrrrrrr");
  // Letters beyond the first 127 are dropped while the labels are read.
  EXPECT_EQ(r.net->branch_name_count, 2);
}

}  // namespace
