#include "analysis/driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "analysis/param_table.h"
#include "input/netlist_reader.h"
#include "input/network_tables.h"
#include "support/memory_streams.h"
#include "support/run_capture.h"
#include "trees/memory.h"

namespace {

using kavrel::NetworkTables;

using kavrel_test::Capture;
using kavrel_test::read_tables;

// The names of the topological functions in the order they were requested,
// from the setup lines "Topological formula: (NAME, k-trees) ".
std::vector<std::string> requests(const std::string& output) {
  std::vector<std::string> names;
  const std::string prefix = "Topological formula: (";
  for (size_t at = output.find(prefix); at != std::string::npos; at = output.find(prefix, at + 1)) {
    if (at > 0 && output[at - 1] != '\n') continue;
    const size_t comma = output.find(',', at);
    names.push_back(output.substr(at + prefix.size(), comma - at - prefix.size()));
  }
  return names;
}

// The second line of every function header, in printing order.
std::vector<std::string> headers(const std::string& output) {
  std::vector<std::string> lines;
  const std::string marker = " Function:\n";
  for (size_t at = output.find(marker); at != std::string::npos; at = output.find(marker, at + 1)) {
    const size_t begin = at + marker.size();
    lines.push_back(output.substr(begin, output.find('\n', begin) - begin));
  }
  return lines;
}

using Names = std::vector<std::string>;

TEST(Driver, HeaderShowsThePortLabelsAsTyped) {
  EXPECT_EQ(kavrel_test::run_normalized("r1 3 9 r2 7 10 f 3 7 9 10 p g21 t 512 e"),
            "{program file name kavrel}\n"
            "\ninput data:\n"
            "r1 3 9 r2 7 10 f 3 7 9 10 p g21 t 512 e\n\n"
            " Function:\n"
            " g( 9, 10; 3, 7) = v( 9, 10)/v( 3, 7) for i( 9, 10)=0\n"
            "\n End:\n\n"
            "\ninput data:\n"
            "{elapsed time: #/1000 sec.}\n");
}

TEST(Driver, SingleRowRequestsItsNumeratorThenItsDenominator) {
  const std::string output = kavrel_test::run_normalized("r1 3 9 r2 7 10 f 3 7 9 10 p g21 t 640 e");
  EXPECT_EQ(requests(output), (Names{"Wijkl", "Wijij"}));
}

TEST(Driver, EveryRowSelectedRequestsEachFunctionOncePerStage) {
  const std::string output = kavrel_test::run_normalized("r1 1 2 r2 2 0 f 1 0 2 0 t 640 e");
  EXPECT_EQ(requests(output),
            (Names{"V", "Wijij", "Wklij", "Wijkl", "Uijkl", "Wklkl", "unconjugated Uijkl",
                   "unconjugated Wijkl", "Wklkl", "Wklij", "Wijkl", "Wijij", "V", "Uijkl"}));
  const Names printed = headers(output);
  ASSERT_EQ(printed.size(), 32u);
  EXPECT_EQ(printed[0], " g( 1, 0; 1, 0) = i( 1, 0)/v( 1, 0) for i( 2, 0)=0");
  EXPECT_EQ(printed[16], " A( 2, 0; 1, 0) = v( 1, 0)/v( 2, 0) for i( 2, 0)=0");
  EXPECT_EQ(printed[21], " b( 1, 0; 2, 0) = v( 2, 0)/-i( 1, 0) for v( 1, 0)=0");
  EXPECT_EQ(printed[24], " s( 1, 0; 1, 0) for Y0 normalization");
  EXPECT_EQ(printed[31], " F( 2, 0; 2, 0) for Y0 normalization");
}

TEST(Driver, RequestsAndPrintingFollowTheRowOrder) {
  for (const char* selection : {"p z22 p z11", "p z11 p z22"}) {
    SCOPED_TRACE(selection);
    const std::string output = kavrel_test::run_normalized(
        std::string("r1 1 2 r2 2 0 f 1 0 2 0 t 640 ") + selection + " e");
    EXPECT_EQ(requests(output), (Names{"Wijij", "V", "Wklkl"}));
    EXPECT_EQ(headers(output), (Names{" z( 1, 0; 1, 0) = v( 1, 0)/i( 1, 0) for i( 2, 0)=0",
                                      " z( 2, 0; 2, 0) = v( 2, 0)/i( 2, 0) for i( 1, 0)=0"}));
  }
}

TEST(Driver, ScatteringRowsEmbedOnceAndConjugateBeforeTheirNumerators) {
  const std::string output =
      kavrel_test::run_normalized("r1 1 2 c1 7 8 n1 7 8 f 1 0 2 0 p F22 p s11 t 644 e");
  // Nothing is requested for the ordinary rows.
  EXPECT_EQ(requests(output),
            (Names{"unconjugated Uijkl", "unconjugated Wijkl", "Wklkl", "Uijkl"}));
  EXPECT_EQ(headers(output), (Names{" s( 1, 0; 1, 0) for Y0 normalization",
                                    " F( 2, 0; 2, 0) for Y0 normalization"}));
  // Embedding, both denominators, conjugation, numerators, in that order.
  const size_t embedded = output.find("entered s-param\n");
  const size_t second_denominator = output.find("Topological formula: (unconjugated Wijkl");
  const size_t conjugated = output.find("conjugate_normalizing_networks entered\n");
  const size_t negated = output.find("negate_passive_element entered\n");
  const size_t first_numerator = output.find("Topological formula: (Wklkl");
  ASSERT_NE(embedded, std::string::npos);
  EXPECT_LT(embedded, second_denominator);
  EXPECT_LT(second_denominator, conjugated);
  EXPECT_LT(conjugated, negated);
  EXPECT_LT(negated, first_numerator);
  EXPECT_EQ(output.find("entered s-param\n", embedded + 1), std::string::npos);
}

TEST(Driver, ScatteringHeaderNamesTheNormalization) {
  const struct {
    const char* entry;
    const char* header;
  } cases[] = {{"", " s( 2, 0; 1, 0) for Y0 normalization"},
               {"n 1", " s( 2, 0; 1, 0) for Z0 normalization"},
               {"n 2", " s( 2, 0; 1, 0) for unity normalization"},
               {"n 7", " s( 2, 0; 1, 0) for unity normalization"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    const std::string output =
        kavrel_test::run_normalized(std::string("r1 1 2 f 1 0 2 0 p s21 t 640 ") + c.entry + " e");
    EXPECT_EQ(headers(output), (Names{c.header}));
    EXPECT_EQ(requests(output), (Names{"unconjugated Uijkl", "Wijkl"}));
  }
}

TEST(Driver, OrdinaryRowsOnlyLeaveTheNetworkAsRead) {
  auto net = read_tables("r1 1 2 c1 7 8 n1 7 8 f 1 0 2 0 p y21 p B t 516 e");
  const auto before = std::make_unique<NetworkTables>();
  std::memcpy(static_cast<void*>(before.get()), net.get(), sizeof(NetworkTables));
  Capture out;
  kavrel::analyse_netlist(*net, out.out());
  EXPECT_EQ(out.text().find("s-param"), std::string::npos);
  EXPECT_EQ(out.text().find("norm_branch_list"), std::string::npos);
  EXPECT_EQ(net->node_count, before->node_count);
  EXPECT_EQ(net->branch_name_count, before->branch_name_count);
  EXPECT_EQ(net->passive_edge_count, before->passive_edge_count);
  EXPECT_EQ(net->active_edge_count, before->active_edge_count);
  EXPECT_EQ(net->opampcnt, before->opampcnt);
  EXPECT_EQ(std::memcmp(net->passive_edges, before->passive_edges, sizeof net->passive_edges), 0);
  EXPECT_EQ(std::memcmp(net->port_nodes, before->port_nodes, sizeof net->port_nodes), 0);
  EXPECT_EQ(std::memcmp(net->node_list, before->node_list, sizeof net->node_list), 0);
}

// Fails every allocation made while V is being set up, recognised by the last
// setup line printed so far.
struct FailV {
  FILE* out;
  char** buffer;
  size_t* size;
};

bool fail_during_v(std::size_t, void* context) {
  auto* state = static_cast<FailV*>(context);
  std::fflush(state->out);
  const std::string text(*state->buffer, *state->size);
  const std::string v_line = "Topological formula: (V, 1-trees) \n";
  const size_t last = text.rfind("Topological formula: ");
  return last != std::string::npos && text.compare(last, v_line.size(), v_line) == 0;
}

TEST(Driver, FailedFunctionIsRequestedAgainAndItsRowsAreSkipped) {
  auto net = read_tables("r1 1 2 r2 2 3 f 1 2 3 4 t 640 e");
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  FailV state{out, &buffer, &size};
  kavrel::set_allocation_failure(fail_during_v, &state);
  kavrel::analyse_netlist(*net, out);
  kavrel::set_allocation_failure(nullptr, nullptr);
  std::fclose(out);
  const std::string output(buffer, size);
  std::free(buffer);

  // V fails at g11 and is requested again for h22, the four z, C and c; the
  // scattering stage requests it once more for F11.
  const Names stage1 = {"V", "Wijij", "Wklij", "Wijkl", "Uijkl", "Wklkl", "V",
                        "V", "V",     "V",     "V",     "V",     "V"};
  const Names stage2 = {
      "unconjugated Uijkl", "unconjugated Wijkl", "Wklkl", "Wklij", "Wijkl", "Wijij", "V", "Uijkl"};
  Names expected = stage1;
  expected.insert(expected.end(), stage2.begin(), stage2.end());
  EXPECT_EQ(requests(output), expected);
  EXPECT_EQ(headers(output), (Names{
                                 " g( 1, 2; 3, 4) = i( 1, 2)/i( 3, 4) for v( 1, 2)=0",
                                 " g( 3, 4; 1, 2) = v( 3, 4)/v( 1, 2) for i( 3, 4)=0",
                                 " g( 3, 4; 3, 4) = v( 3, 4)/i( 3, 4) for v( 1, 2)=0",
                                 " h( 1, 2; 1, 2) = v( 1, 2)/i( 1, 2) for v( 3, 4)=0",
                                 " h( 1, 2; 3, 4) = v( 1, 2)/v( 3, 4) for i( 1, 2)=0",
                                 " h( 3, 4; 1, 2) = i( 3, 4)/i( 1, 2) for v( 3, 4)=0",
                                 " y( 1, 2; 1, 2) = i( 1, 2)/v( 1, 2) for v( 3, 4)=0",
                                 " y( 1, 2; 3, 4) = i( 1, 2)/v( 3, 4) for v( 1, 2)=0",
                                 " y( 3, 4; 1, 2) = i( 3, 4)/v( 1, 2) for v( 3, 4)=0",
                                 " y( 3, 4; 3, 4) = i( 3, 4)/v( 3, 4) for v( 1, 2)=0",
                                 " A( 3, 4; 1, 2) = v( 1, 2)/v( 3, 4) for i( 3, 4)=0",
                                 " B( 3, 4; 1, 2) = v( 1, 2)/-i( 3, 4) for v( 3, 4)=0",
                                 " D( 3, 4; 1, 2) = i( 1, 2)/-i( 3, 4) for v( 3, 4)=0",
                                 " a( 1, 2; 3, 4) = v( 3, 4)/v( 1, 2) for i( 1, 2)=0",
                                 " b( 1, 2; 3, 4) = v( 3, 4)/-i( 1, 2) for v( 1, 2)=0",
                                 " d( 1, 2; 3, 4) = i( 3, 4)/-i( 1, 2) for v( 1, 2)=0",
                                 " s( 1, 2; 1, 2) for Y0 normalization",
                                 " s( 1, 2; 3, 4) for Y0 normalization",
                                 " s( 3, 4; 1, 2) for Y0 normalization",
                                 " s( 3, 4; 3, 4) for Y0 normalization",
                                 " F( 1, 2; 3, 4) for Y0 normalization",
                                 " F( 3, 4; 1, 2) for Y0 normalization",
                                 " F( 3, 4; 3, 4) for Y0 normalization",
                             }));
}

// A topological function serves several parameters; each printed function
// must be what the parameter prints when it is selected alone, whichever row
// uses the function last.
TEST(Driver, EveryFunctionPrintsAsWhenSelectedAlone) {
  const std::string network =
      "r1 1 2 c1 2 0 l1 2 3 gm1 3 0 1 0 x g2 3 4 U1 4 0 3 0 r2 4 0 "
      "f 1 0 4 0 n 1 ";
  auto functions = [](const std::string& output) {
    std::vector<std::string> blocks;
    for (size_t at = output.find(" Function:"); at != std::string::npos;) {
      const size_t next = output.find(" Function:", at + 1);
      const size_t end = std::min(next, output.find("\ninput data:", at));
      blocks.push_back(output.substr(at, end - at));
      at = next;
    }
    return blocks;
  };
  const std::vector<std::string> all = functions(kavrel_test::run_kavrel_on(network + "e\n"));
  ASSERT_EQ(all.size(), 32u);
  for (int r = 0; r < kavrel::kParamRows; ++r) {
    const std::string alone = kavrel_test::run_kavrel_on(
        network + "p " + kavrel::param_names[r] + " e\n");
    const std::vector<std::string> printed = functions(alone);
    ASSERT_EQ(printed.size(), 1u) << kavrel::param_names[r];
    EXPECT_EQ(printed[0], all[static_cast<size_t>(r)]) << kavrel::param_names[r];
  }
}

}  // namespace
