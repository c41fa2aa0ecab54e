#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "analysis/conjugation.h"
#include "analysis/driver.h"
#include "analysis/scattering_embedding.h"
#include "input/netlist_reader.h"
#include "input/network_tables.h"
#include "support/memory_streams.h"
#include "support/run_capture.h"

namespace {

using kavrel::NetworkTables;

using kavrel_test::Capture;
using kavrel_test::read_tables;

// A byte-exact copy, so that memcmp can show that nothing changed.
std::unique_ptr<NetworkTables> snapshot(const NetworkTables& net) {
  auto copy = std::make_unique<NetworkTables>();
  std::memcpy(static_cast<void*>(copy.get()), &net, sizeof(NetworkTables));
  return copy;
}

std::string name(const NetworkTables& net, int slot) { return net.branch_name_list[slot]; }

void expect_passive(const NetworkTables& net, int edge, const char* text, int node1, int node2) {
  SCOPED_TRACE("passive edge " + std::to_string(edge));
  const kavrel::PassiveEdge& e = net.passive_edges[edge];
  EXPECT_EQ(name(net, e.name), text);
  EXPECT_EQ(e.node1, node1);
  EXPECT_EQ(e.node2, node2);
}

void expect_active(const NetworkTables& net, int edge, const char* text, int out_pos, int out_neg,
                   int in_pos, int in_neg) {
  SCOPED_TRACE("active edge " + std::to_string(edge));
  const kavrel::ActiveEdge& e = net.active_edges[edge];
  EXPECT_EQ(name(net, e.name), text);
  EXPECT_EQ(e.out_pos, out_pos);
  EXPECT_EQ(e.out_neg, out_neg);
  EXPECT_EQ(e.in_pos, in_pos);
  EXPECT_EQ(e.in_neg, in_neg);
}

std::string mark_line(int mark, int slot) {
  char line[64];
  std::snprintf(line, sizeof line, " norm_branch_list[i],i: %4d %4d\n", mark, slot);
  return line;
}

const char kDenominatorTitle[] =
    "Internal representation of data including generated elements and reassigned node#s:\n"
    "this includes embedding circuitry for evaluating the denominators of the scattering "
    "parameters.\n";
const char kNumeratorTitle[] =
    "Internal representation of data including generated elements and reassigned node#s:\n"
    "this includes embedding circuitry for evaluating the numerators of the scattering "
    "parameters.\n";

// The listing body of r1 1 2 with ports f 1 0 2 0, embedded; the tail of both
// the embedding and the (empty) conjugation listing.
const char kSeriesResistorBody[] =
    "edge,name,node#'s...\n"
    "  1 x 12 1\n"
    "  2 r1 1 2\n"
    "  3 a 4 6\n"
    "  4 a 7 6\n"
    "  5 a 7 3\n"
    "  6 a 8 10\n"
    "  7 a 10 11\n"
    "  8 a 11 3\n"
    "  9 Y0 5 1\n"
    " 10 Y0 9 2\n"
    " 11 o 5 3 4 5\n"
    " 12 o 6 3 1 7\n"
    " 13 o 9 3 8 9\n"
    " 14 o 10 3 2 11\n"
    " 15 f 4 3 8 3\n"
    "internal node#  input node#:\n"
    "             1    1\n"
    "             2    2\n"
    "             3    0\n"
    "             4    1000\n"
    "             5    1001\n"
    "             6    1002\n"
    "             7    1003\n"
    "             8    1004\n"
    "             9    1005\n"
    "            10    1006\n"
    "            11    1007\n"
    "            12    0\n"
    "\nedge namelist: index, value\n"
    "  1, x\n"
    "  2, r1\n"
    "  3, o\n"
    "  4, o\n"
    "  5, o\n"
    "  6, o\n"
    "  7, a\n"
    "  8, a\n"
    "  9, a\n"
    " 10, a\n"
    " 11, a\n"
    " 12, a\n"
    " 13, Y0\n"
    " 14, Y0\n"
    "\n";

TEST(Embedding, SeriesResistorGetsTheFullCircuitryAndListing) {
  auto net = read_tables("r1 1 2 f 1 0 2 0 p s21 t 1 e\n");
  Capture out;
  ASSERT_EQ(kavrel::embed_s_param(*net, out.out()), 0);
  EXPECT_EQ(out.text(), std::string(kDenominatorTitle) + kSeriesResistorBody);

  EXPECT_EQ(net->passive_snapshot, 10);
  EXPECT_EQ(net->passive_edge_count, 10);
  EXPECT_EQ(net->active_edge_count, 4);
  EXPECT_EQ(net->branch_name_count, 14);
  EXPECT_EQ(net->node_count, 12);
  EXPECT_EQ(net->tree_branch_count, 11);
  EXPECT_EQ(net->opampcnt, 4);
  EXPECT_EQ(net->last_generated_label, 1007);
  // The generated names are classified like any other.
  EXPECT_EQ(net->fmap[3], 1);
  EXPECT_EQ(net->fmap[7], 16);
  EXPECT_EQ(net->branchmap[14], 13);
  for (int slot = 0; slot < kavrel::kNameSlots; ++slot) EXPECT_EQ(net->norm_branch_list[slot], 0);
}

TEST(Embedding, WholeRunPrintsReaderEmbeddingAndConjugationListingsThenTheFunction) {
  const std::string reader_listing =
      "Internal representation of data including generated elements and reassigned node#s:\n"
      "edge,name,node#'s...\n"
      "  1 x 4 1\n"
      "  2 r1 1 2\n"
      "  3 f 1 3 2 3\n"
      "internal node#  input node#:\n"
      "             1    1\n"
      "             2    2\n"
      "             3    0\n"
      "             4    0\n"
      "\nedge namelist: index, value, numeric value\n"
      "  1, x\n"
      "  2, r1\n"
      "\n";
  EXPECT_EQ(kavrel_test::run_normalized("r1 1 2 f 1 0 2 0 p s21 t 513 e"),
            "{program file name kavrel}\n"
            "\ninput data:\n"
            "r1 1 2 f 1 0 2 0 p s21 t 513 e\n\n" +
                reader_listing + kDenominatorTitle + kSeriesResistorBody + kNumeratorTitle +
                kSeriesResistorBody +
                " Function:\n"
                " s( 2, 0; 1, 0) for Y0 normalization\n"
                "\n End:\n\n"
                "\ninput data:\n"
                "{elapsed time: #/1000 sec.}\n");
}

TEST(Embedding, NormalizingElementFollowsTheNormalizationMode) {
  const struct {
    const char* entry;
    const char* element;
  } cases[] = {{"n 0", "Y0"}, {"n 1", "Z0"}, {"n 2", "a"}, {"n 7", "a"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    auto net = read_tables(std::string("r1 1 2 f 1 0 2 0 ") + c.entry + " p s21 e\n");
    Capture out;
    ASSERT_EQ(kavrel::embed_s_param(*net, out.out()), 0);
    EXPECT_EQ(out.text(), "");
    expect_passive(*net, 9, c.element, 5, 1);
    expect_passive(*net, 10, c.element, 9, 2);
  }
}

// r1 1 2, c01 7 8 with n1 7 8: internal nodes 1, 2 (labels 1, 2), 3, 4
// (labels 7, 8), 5 (label 0), reserved node 6.
const char kCapacitorNetwork[] = "r1 1 2 c01 7 8 n1 7 8 f 1 0 2 0 p s21 t 1 e\n";

TEST(Embedding, NormalizingNetworkReplacesThePortOneElement) {
  auto net = read_tables(kCapacitorNetwork);
  Capture out;
  ASSERT_EQ(kavrel::embed_s_param(*net, out.out()), 0);

  std::string marks;
  for (int slot = 0; slot <= 3; ++slot) marks += mark_line(slot == 3 ? 1 : 0, slot);
  const std::string expected = marks + marks + kDenominatorTitle +
                               "edge,name,node#'s...\n"
                               "  1 x 13 1\n"
                               "  2 r1 1 2\n"
                               "  3 c01 3 4\n"
                               "  4 a 6 7\n"
                               "  5 a 8 7\n"
                               "  6 a 8 5\n"
                               "  7 a 9 11\n"
                               "  8 a 11 12\n"
                               "  9 a 12 5\n"
                               " 10 Y0 10 2\n"
                               " 11 o 3 5 6 3\n"
                               " 12 o 7 5 1 8\n"
                               " 13 o 10 5 9 10\n"
                               " 14 o 11 5 2 12\n"
                               " 15 o 4 1 4 1\n"
                               " 16 f 6 5 9 5\n"
                               "internal node#  input node#:\n"
                               "             1    1\n"
                               "             2    2\n"
                               "             3    7\n"
                               "             4    8\n"
                               "             5    0\n"
                               "             6    1000\n"
                               "             7    1001\n"
                               "             8    1002\n"
                               "             9    1003\n"
                               "            10    1004\n"
                               "            11    1005\n"
                               "            12    1006\n"
                               "            13    0\n"
                               "\nedge namelist: index, value\n"
                               "  1, x\n"
                               "  2, r1\n"
                               "  3, c01\n"
                               "  4, o\n"
                               "  5, o\n"
                               "  6, o\n"
                               "  7, o\n"
                               "  8, a\n"
                               "  9, a\n"
                               " 10, a\n"
                               " 11, a\n"
                               " 12, a\n"
                               " 13, a\n"
                               " 14, o\n"
                               " 15, Y0\n"
                               "\n";
  EXPECT_EQ(out.text(), expected);
  EXPECT_EQ(net->opampcnt, 5);
  EXPECT_EQ(net->tree_branch_count, 12);
  EXPECT_EQ(net->passive_snapshot, 10);
}

TEST(Conjugation, CapacitorOfTheNormalizingNetworkIsNegated) {
  auto net = read_tables(kCapacitorNetwork);
  Capture embed_out;
  ASSERT_EQ(kavrel::embed_s_param(*net, embed_out.out()), 0);

  Capture out;
  ASSERT_EQ(kavrel::conjugate_normalizing_networks(*net, out.out()), 0);
  const std::string expected = std::string(kNumeratorTitle) +
                               "edge,name,node#'s...\n"
                               "  1 x 15 1\n"
                               "  2 r1 1 2\n"
                               "  3 c01 3 13\n"
                               "  4 a 6 7\n"
                               "  5 a 8 7\n"
                               "  6 a 8 5\n"
                               "  7 a 9 11\n"
                               "  8 a 11 12\n"
                               "  9 a 12 5\n"
                               " 10 Y0 10 2\n"
                               " 11 a 4 14\n"
                               " 12 a 13 14\n"
                               " 13 o 3 5 6 3\n"
                               " 14 o 7 5 1 8\n"
                               " 15 o 10 5 9 10\n"
                               " 16 o 11 5 2 12\n"
                               " 17 o 4 1 4 1\n"
                               " 18 o 3 14 13 4\n"
                               " 19 f 6 5 9 5\n"
                               "internal node#  input node#:\n"
                               "             1    1\n"
                               "             2    2\n"
                               "             3    7\n"
                               "             4    8\n"
                               "             5    0\n"
                               "             6    1000\n"
                               "             7    1001\n"
                               "             8    1002\n"
                               "             9    1003\n"
                               "            10    1004\n"
                               "            11    1005\n"
                               "            12    1006\n"
                               "            13    1007\n"
                               "            14    1008\n"
                               "            15    0\n"
                               "\nedge namelist: index, value\n"
                               "  1, x\n"
                               "  2, r1\n"
                               "  3, c01\n"
                               "  4, o\n"
                               "  5, o\n"
                               "  6, o\n"
                               "  7, o\n"
                               "  8, a\n"
                               "  9, a\n"
                               " 10, a\n"
                               " 11, a\n"
                               " 12, a\n"
                               " 13, a\n"
                               " 14, o\n"
                               " 15, Y0\n"
                               " 16, o\n"
                               " 17, a\n"
                               " 18, a\n"
                               "\n";
  EXPECT_EQ(out.text(), expected);
  EXPECT_EQ(net->opampcnt, 6);
  EXPECT_EQ(net->passive_snapshot, 12);
  EXPECT_EQ(net->tree_branch_count, 14);
  EXPECT_EQ(net->powermap[3], 1);
  EXPECT_EQ(net->fmap[16], 1);
}

TEST(Conjugation, RoutineTracesNameEachStep) {
  auto net = read_tables("r1 1 2 c01 7 8 n1 7 8 f 1 0 2 0 p s21 t 4 e\n");
  Capture out;
  ASSERT_EQ(kavrel::embed_s_param(*net, out.out()), 0);
  ASSERT_EQ(kavrel::conjugate_normalizing_networks(*net, out.out()), 0);
  std::string marks;
  for (int slot = 0; slot <= 3; ++slot) marks += mark_line(slot == 3 ? 1 : 0, slot);
  EXPECT_EQ(out.text(), "entered s-param\ntrace_graph entered\n" + marks + "trace_graph entered\n" +
                            marks +
                            "conjugate_normalizing_networks entered\n"
                            "negate_passive_element entered\n");
}

TEST(Conjugation, ResistiveNormalizingNetworksStayUnchanged) {
  // The help's example normalizing networks.
  auto net =
      read_tables("r1 1 2 N1 7 18 n2 11 5 r01 7 18 v 50 r02 11 5 v 75 f 1 0 2 0 p s11 t 1 e\n");
  // Nodes: 1, 2 (labels 1, 2), 3, 4 (7, 18), 5, 6 (11, 5), 7 (0), reserved 8.
  Capture embed_out;
  ASSERT_EQ(kavrel::embed_s_param(*net, embed_out.out()), 0);
  EXPECT_NE(embed_out.text().find(" norm_branch_list[i],i:    1    3\n"), std::string::npos);
  EXPECT_NE(embed_out.text().find(" norm_branch_list[i],i:    1    4\n"), std::string::npos);
  EXPECT_NE(embed_out.text().find("  3, r01 50\n  4, r02 75\n"), std::string::npos);
  EXPECT_EQ(net->norm_branch_list[3], 1);
  EXPECT_EQ(net->norm_branch_list[4], 1);
  EXPECT_EQ(net->norm_branch_list[2], 0);
  // Six nodes created (E1, E3, E4, E5, E7, E8) and the reserved node rebuilt.
  EXPECT_EQ(net->node_count, 14);
  EXPECT_EQ(net->passive_edge_count, 4 + 6);
  EXPECT_EQ(net->active_edge_count, 6);
  expect_active(*net, 1, "o", 3, 7, 8, 3);   // E2 is the node of label 7
  expect_active(*net, 3, "o", 5, 7, 11, 5);  // E6 is the node of label 11
  expect_active(*net, 5, "o", 4, 1, 4, 1);
  expect_active(*net, 6, "o", 6, 2, 6, 2);

  const auto before = snapshot(*net);
  Capture out;
  ASSERT_EQ(kavrel::conjugate_normalizing_networks(*net, out.out()), 0);
  EXPECT_EQ(std::memcmp(net.get(), before.get(), sizeof(NetworkTables)), 0);
  // The same listing as after the embedding, under the numerators' title.
  const std::string embed_listing = embed_out.text().substr(embed_out.text().find("Internal"));
  EXPECT_EQ(out.text(), kNumeratorTitle + embed_listing.substr(std::strlen(kDenominatorTitle)));
}

TEST(Conjugation, MutualInductanceInANormalizingNetworkReversesItsControlledSources) {
  auto net = read_tables("r1 1 2 m01 7 8 7 8 l02 8 7 n2 7 8 f 1 0 2 0 p s22 e\n");
  // m01 takes active edges 1..6 (controlled sources 1 and 4) and passive edges
  // 2 and 3 behind r1 ... in name slots 3..12; l02 follows in slot 13.
  ASSERT_EQ(net->mutual_flag[1], 1);
  ASSERT_EQ(net->mutual_flag[4], 1);
  Capture embed_out;
  ASSERT_EQ(kavrel::embed_s_param(*net, embed_out.out()), 0);
  const auto before = snapshot(*net);

  Capture out;
  ASSERT_EQ(kavrel::conjugate_normalizing_networks(*net, out.out()), 0);
  for (int edge : {1, 4}) {
    SCOPED_TRACE(edge);
    EXPECT_NE(before->norm_branch_list[before->active_edges[edge].name], 0);
    EXPECT_EQ(net->active_edges[edge].out_pos, before->active_edges[edge].out_neg);
    EXPECT_EQ(net->active_edges[edge].out_neg, before->active_edges[edge].out_pos);
    EXPECT_EQ(net->active_edges[edge].in_pos, before->active_edges[edge].in_pos);
    EXPECT_EQ(net->active_edges[edge].in_neg, before->active_edges[edge].in_neg);
  }
  for (int edge : {2, 3, 5, 6}) {
    SCOPED_TRACE(edge);
    EXPECT_EQ(std::memcmp(&net->active_edges[edge], &before->active_edges[edge],
                          sizeof(kavrel::ActiveEdge)),
              0);
  }
  // Only l02 is negated: one converter, the m01 reactances stay as they are.
  EXPECT_EQ(net->branch_name_count, before->branch_name_count + 3);
  EXPECT_EQ(net->passive_edge_count, before->passive_edge_count + 2);
  EXPECT_EQ(net->active_edge_count, before->active_edge_count + 1);
  EXPECT_EQ(net->node_count, before->node_count + 2);
  for (int edge = 1; edge <= before->passive_edge_count; ++edge) {
    const char* text = net->branch_name_list[net->passive_edges[edge].name];
    if (std::strcmp(text, "m01") == 0) {
      EXPECT_EQ(net->passive_edges[edge].node2, before->passive_edges[edge].node2);
    }
  }
}

TEST(Conjugation, OnlyTheFirstCharacterDecides) {
  auto net =
      read_tables("r1 1 2 L2 7 8 cap 8 9 r3 9 7 gm4 7 8 8 9 y5 7 9 n1 7 8 f 1 0 2 0 p s11 e\n");
  Capture embed_out;
  ASSERT_EQ(kavrel::embed_s_param(*net, embed_out.out()), 0);
  const auto before = snapshot(*net);
  Capture out;
  ASSERT_EQ(kavrel::conjugate_normalizing_networks(*net, out.out()), 0);
  // L2 and cap: two converters. r3, gm4 and y5 stay.
  EXPECT_EQ(net->branch_name_count, before->branch_name_count + 6);
  EXPECT_EQ(net->opampcnt, before->opampcnt + 2);
  EXPECT_EQ(
      std::memcmp(&net->active_edges[1], &before->active_edges[1], sizeof(kavrel::ActiveEdge)), 0);
}

// A netlist of 33 labelled nodes (the reader's maximum) with the networks
// between labels 40/41 and 42/43, and a chain of resistors through 2..28.
std::string crowded_netlist(const std::string& networks) {
  std::string text = "r1 1 2 ";
  for (int label = 3; label <= 28; ++label)
    text += "r" + std::to_string(label) + " " + std::to_string(label - 1) + " " +
            std::to_string(label) + " ";
  return text + networks + " f 1 0 2 0 p s11 e\n";
}

TEST(Conjugation, ReservedNodeMayTakeTheLastNodeSlot) {
  auto net = read_tables(crowded_netlist("c01 40 41 n1 40 41 r02 42 43"));
  ASSERT_EQ(net->node_count, 34);
  Capture out;
  ASSERT_EQ(kavrel::embed_s_param(*net, out.out()), 0);
  ASSERT_EQ(net->node_count, 41);
  ASSERT_EQ(kavrel::conjugate_normalizing_networks(*net, out.out()), 0);
  EXPECT_EQ(net->node_count, kavrel::kMaxNode);
  EXPECT_EQ(net->passive_edges[1].node1, kavrel::kMaxNode);
  EXPECT_EQ(net->node_list[kavrel::kMaxNode], 0);
  EXPECT_EQ(out.text().find("exceeds"), std::string::npos);
}

TEST(Conjugation, RefusesWhenTheReservedNodeWouldLeaveTheNodeTable) {
  // Two negations after the embedding: nodes 40..43 and the reserved node 44.
  auto net = read_tables(crowded_netlist("c01 40 41 n1 40 41 c02 42 43 n2 42 43"));
  Capture embed_out;
  ASSERT_EQ(kavrel::embed_s_param(*net, embed_out.out()), 0);
  ASSERT_EQ(net->node_count, 40);
  const auto before = snapshot(*net);
  Capture out;
  EXPECT_EQ(kavrel::conjugate_normalizing_networks(*net, out.out()), 1);
  EXPECT_EQ(out.text(),
            "scattering parameters skipped: conjugating the normalizing networks needs more table "
            "space than configured\n");
  EXPECT_EQ(std::memcmp(net.get(), before.get(), sizeof(NetworkTables)), 0);
}

TEST(Conjugation, RefusedStagePrintsNoScatteringFunctionAndTheRunGoesOn) {
  std::string network;
  for (int k = 1; k <= 24; ++k) network += "c" + std::to_string(k) + " 7 8 ";
  const std::string output =
      kavrel_test::run_normalized("r1 1 2 " + network + "n1 7 8 f 1 0 2 0 p s11 p z11 t 512 e\n" +
                                  "r9 1 0 f 1 0 1 0 p z11 t 512 e\n");
  const std::string refusal =
      "scattering parameters skipped: conjugating the normalizing networks needs more table "
      "space than configured\n";
  const size_t refused_at = output.find(refusal);
  ASSERT_NE(refused_at, std::string::npos) << output;
  EXPECT_EQ(output.find(" s( "), std::string::npos);
  // The second netlist is read and analysed after the refusal.
  const size_t second = output.find("r9 1 0", refused_at);
  ASSERT_NE(second, std::string::npos);
  EXPECT_NE(output.find(" z( 1, 0; 1, 0) = v( 1, 0)/i( 1, 0) for i( 1, 0)=0\n", second),
            std::string::npos);
}

TEST(Embedding, RefusesTablesThatCannotTakeTheCircuitry) {
  auto net = read_tables("r1 1 2 f 1 0 2 0 p s21 e\n");
  net->passive_edge_count = 60;  // more than the reader lets through
  const auto before = snapshot(*net);
  Capture out;
  EXPECT_EQ(kavrel::embed_s_param(*net, out.out()), 1);
  EXPECT_EQ(out.text(),
            "scattering parameters skipped: the embedding circuitry needs more table space than "
            "configured\n");
  EXPECT_EQ(std::memcmp(net.get(), before.get(), sizeof(NetworkTables)), 0);
}

// 58 one-ports, 29 two-ports and 33 labelled nodes: every limit of the reader
// at its maximum.
std::string largest_netlist(const std::string& extra, bool with_capacitor = false) {
  std::string text;
  for (int k = 1; k <= 58; ++k)
    text += std::string(with_capacitor && k == 25 ? "c" : "g") + std::to_string(k) + " " +
            std::to_string(k % 33) + " " + std::to_string((k + 1) % 33) + " ";
  for (int k = 1; k <= 29; ++k) text += "gm" + std::to_string(k) + " 1 2 3 4 ";
  return text + extra + " f 1 0 2 0 p s11 e\n";
}

TEST(Embedding, LargestNetlistTheReaderAcceptsFits) {
  auto net = read_tables(largest_netlist(""));
  ASSERT_EQ(net->passive_edge_count, 59);
  ASSERT_EQ(net->active_edge_count, 29);
  ASSERT_EQ(net->node_count, 34);
  Capture out;
  ASSERT_EQ(kavrel::embed_s_param(*net, out.out()), 0);
  EXPECT_EQ(net->passive_edge_count, 67);
  EXPECT_EQ(net->active_edge_count, 33);
  EXPECT_EQ(net->branch_name_count, 100);
  EXPECT_EQ(net->node_count, 42);
  EXPECT_EQ(kavrel::conjugate_normalizing_networks(*net, out.out()), 0);
  EXPECT_EQ(net->node_count, 42);
  EXPECT_EQ(out.text(), "");
}

TEST(Conjugation, LargestNetlistWithAReactiveNormalizingNetworkIsRefused) {
  // c25 joins labels 25 and 26; its negation needs three names where only one
  // is left beside the evaluation's two pseudo-branches.
  auto net = read_tables(largest_netlist("n1 25 26", true));
  Capture embed_out;
  ASSERT_EQ(kavrel::embed_s_param(*net, embed_out.out()), 0);
  const auto before = snapshot(*net);
  Capture out;
  EXPECT_EQ(kavrel::conjugate_normalizing_networks(*net, out.out()), 1);
  EXPECT_NE(out.text().find("scattering parameters skipped"), std::string::npos);
  EXPECT_EQ(std::memcmp(net.get(), before.get(), sizeof(NetworkTables)), 0);
}

TEST(TraceGraph, WalksThroughBothPairsOfTwoPorts) {
  // From label 7: r1 to 8, gm2's input pair (8, 9) to 9, its output pair
  // (10, 11) never touched; o3's output pair (9, 12) then its input (12, 13).
  auto net = read_tables("r1 7 8 gm2 10 11 8 9 o3 9 12 12 13 c4 13 14 r5 20 21 f 7 0 20 0 e\n");
  Capture out;
  for (int32_t& mark : net->norm_branch_list) mark = 0;
  kavrel::trace_graph(*net, out.out(), 1);
  EXPECT_EQ(net->norm_branch_list[1], 1);   // the reserved edge touches node 1
  EXPECT_EQ(net->norm_branch_list[2], 1);   // r1
  EXPECT_EQ(net->norm_branch_list[3], -2);  // gm2: input pair only
  EXPECT_EQ(net->norm_branch_list[4], -3);  // o3: both pairs
  EXPECT_EQ(net->norm_branch_list[5], 1);   // c4
  EXPECT_EQ(net->norm_branch_list[6], 0);   // r5 lies elsewhere
  std::string marks;
  const int expected_marks[] = {0, 1, 1, -2, -3, 1, 0};
  for (int slot = 0; slot <= 6; ++slot) marks += mark_line(expected_marks[slot], slot);
  EXPECT_EQ(out.text(), marks);
}

TEST(TraceGraph, FullStackTiltsAndKeepsTheMarksMadeSoFar) {
  auto net = read_tables("r1 7 8 r2 8 9 r3 9 10 r4 10 11 f 7 0 11 0 e\n");
  for (int32_t& mark : net->norm_branch_list) mark = 0;
  Capture out;
  kavrel::trace_graph(*net, out.out(), 1, 3);
  EXPECT_EQ(out.text(), "tilt\n");
  EXPECT_EQ(net->norm_branch_list[2], 1);
  EXPECT_EQ(net->norm_branch_list[3], 1);
  EXPECT_EQ(net->norm_branch_list[4], 1);
  EXPECT_EQ(net->norm_branch_list[5], 0);

  // With room for five nodes the same walk completes.
  for (int32_t& mark : net->norm_branch_list) mark = 0;
  Capture complete;
  kavrel::trace_graph(*net, complete.out(), 1, 5);
  EXPECT_EQ(complete.text().find("tilt"), std::string::npos);
  EXPECT_EQ(net->norm_branch_list[5], 1);
}

}  // namespace
