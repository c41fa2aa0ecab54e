#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "analysis/conjugation.h"
#include "input/construct_builders.h"
#include "input/network_tables.h"
#include "input/table_limits.h"
#include "support/memory_streams.h"

namespace {

using kavrel::NetworkTables;
using kavrel::TableCounts;
using kavrel::TableShortage;
using kavrel_test::Capture;

TEST(TableLimits, EveryTableMayBeFilledToItsLastSlot) {
  EXPECT_EQ(kavrel::first_shortage({103, 67, 1, 43}, 0), TableShortage::kNone);
  EXPECT_EQ(kavrel::first_shortage({1, 67, 35, 1}, 0), TableShortage::kNone);
  // Names 1..103, passive edges 1..67, active edges 1..35, nodes 1..43.
  TableCounts counts{104, 60, 30, 40};
  EXPECT_EQ(kavrel::first_shortage(counts, 0), TableShortage::kNames);
  counts = {1, 68, 0, 1};
  EXPECT_EQ(kavrel::first_shortage(counts, 0), TableShortage::kPassiveEdges);
  counts = {1, 1, 36, 1};
  EXPECT_EQ(kavrel::first_shortage(counts, 0), TableShortage::kActiveEdges);
  counts = {1, 1, 0, 44};
  EXPECT_EQ(kavrel::first_shortage(counts, 0), TableShortage::kNodes);
  // Names are named first when several tables overflow.
  EXPECT_EQ(kavrel::first_shortage({104, 68, 36, 44}, 0), TableShortage::kNames);
  EXPECT_EQ(kavrel::first_shortage({1, 68, 36, 44}, 0), TableShortage::kPassiveEdges);
}

TEST(TableLimits, AnEvaluationNeedsRoomForItsPseudoBranches) {
  // Two pseudo-branches take the name slots after the last name and two
  // places in the edge lists.
  EXPECT_EQ(kavrel::first_shortage({101, 60, 30, 40}, 2), TableShortage::kNone);
  EXPECT_EQ(kavrel::first_shortage({102, 60, 30, 40}, 2), TableShortage::kNames);
  EXPECT_EQ(kavrel::first_shortage({102, 60, 30, 40}, 1), TableShortage::kNone);
  EXPECT_EQ(kavrel::first_shortage({90, 67, 34, 40}, 2), TableShortage::kNone);  // 103 edges
  EXPECT_EQ(kavrel::first_shortage({90, 67, 35, 40}, 2), TableShortage::kEdgeList);
  EXPECT_TRUE(kavrel::evaluation_fits({90, 67, 34, 43}, 2));
  EXPECT_FALSE(kavrel::evaluation_fits({90, 67, 35, 43}, 2));
}

TEST(TableLimits, CountsBelowTheirResetValuesAreRefused) {
  EXPECT_TRUE(kavrel::counts_valid({1, 1, 0, 0}));
  EXPECT_FALSE(kavrel::counts_valid({0, 1, 0, 0}));
  EXPECT_FALSE(kavrel::counts_valid({1, 0, 0, 0}));
  EXPECT_FALSE(kavrel::counts_valid({1, 1, -1, 0}));
  EXPECT_FALSE(kavrel::counts_valid({1, 1, 0, -1}));
  EXPECT_FALSE(kavrel::evaluation_fits({0, 5, 0, 3}, 0));
}

TEST(TableLimits, AnAugmentationNeedsTheReservedNodeAndRoomAfterItsGrowth) {
  auto net = std::make_unique<NetworkTables>();
  net->branch_name_count = 88;
  net->passive_edge_count = 59;
  net->active_edge_count = 29;
  net->node_count = 34;
  // The embedding without normalizing networks: 12 names, 8 passive and 4
  // active edges, 8 nodes.
  EXPECT_TRUE(kavrel::augmentation_fits(*net, {12, 8, 4, 8}));
  EXPECT_FALSE(kavrel::augmentation_fits(*net, {12, 9, 4, 8}));
  EXPECT_FALSE(kavrel::augmentation_fits(*net, {12, 8, 4, 10}));
  // 100 names after the growth leave 3 slots: room for the pseudo-branches
  // only up to 101 names.
  EXPECT_TRUE(kavrel::augmentation_fits(*net, {13, 8, 4, 8}));
  EXPECT_FALSE(kavrel::augmentation_fits(*net, {14, 8, 4, 8}));
  net->node_count = 0;
  EXPECT_FALSE(kavrel::augmentation_fits(*net, {0, 0, 0, 0}));
}

TEST(TableLimits, ReadingStopsAtTheFirstCountThatReachedItsLimit) {
  auto net = std::make_unique<NetworkTables>();
  net->passive_edge_count = 59;
  net->active_edge_count = 29;
  net->node_count = 34;
  {
    Capture out;
    EXPECT_FALSE(kavrel::reading_limit_reached(*net, out.out()));
    EXPECT_EQ(out.text(), "");
  }
  net->node_count = 35;
  {
    Capture out;
    EXPECT_TRUE(kavrel::reading_limit_reached(*net, out.out()));
    EXPECT_EQ(out.text(),
              "number of nodes(= 35) exceeds limit of 34\n or improper input applied\n");
  }
  net->active_edge_count = 31;
  {
    Capture out;
    EXPECT_TRUE(kavrel::reading_limit_reached(*net, out.out()));
    EXPECT_EQ(out.text(),
              "number of two-port elements(= 31) exceeds limit of 29\n or improper input applied\n");
  }
  net->passive_edge_count = 60;
  {
    Capture out;
    EXPECT_TRUE(kavrel::reading_limit_reached(*net, out.out()));
    EXPECT_EQ(out.text(),
              "number of one-port elements(= 60) exceeds limit of 59\n or improper input applied\n");
  }
}

TEST(ConstructBuilders, ConverterOfTheReaderAndOfTheConjugationAgree) {
  // x c1 7 9 as read, and c1 7 9 negated afterwards, give the same edges.
  auto read = kavrel_test::read_tables("x c1 7 9 f 7 0 9 0 e\n");
  auto plain = kavrel_test::read_tables("c1 7 9 f 7 0 9 0 e\n");
  Capture out;
  ASSERT_EQ(kavrel::negate_passive_element(*plain, out.out(), 2), 0);
  EXPECT_EQ(out.text(), "");
  ASSERT_EQ(plain->branch_name_count, read->branch_name_count);
  ASSERT_EQ(plain->passive_edge_count, read->passive_edge_count);
  ASSERT_EQ(plain->active_edge_count, read->active_edge_count);
  EXPECT_EQ(plain->opampcnt, read->opampcnt);
  auto label = [](const NetworkTables& net, int node) { return net.node_list[node]; };
  for (int slot = 2; slot <= read->branch_name_count; ++slot)
    EXPECT_STREQ(plain->branch_name_list[slot], read->branch_name_list[slot]);
  // Internal node numbers differ (the reader numbers 1000 and 1001 before 9);
  // the labels agree.
  for (int e = 2; e <= read->passive_edge_count; ++e) {
    SCOPED_TRACE("passive edge " + std::to_string(e));
    EXPECT_EQ(plain->passive_edges[e].name, read->passive_edges[e].name);
    EXPECT_EQ(label(*plain, plain->passive_edges[e].node1),
              label(*read, read->passive_edges[e].node1));
    EXPECT_EQ(label(*plain, plain->passive_edges[e].node2),
              label(*read, read->passive_edges[e].node2));
  }
  const kavrel::ActiveEdge& p = plain->active_edges[1];
  const kavrel::ActiveEdge& r = read->active_edges[1];
  EXPECT_EQ(p.name, r.name);
  EXPECT_EQ(label(*plain, p.out_pos), label(*read, r.out_pos));
  EXPECT_EQ(label(*plain, p.out_neg), label(*read, r.out_neg));
  EXPECT_EQ(label(*plain, p.in_pos), label(*read, r.in_pos));
  EXPECT_EQ(label(*plain, p.in_neg), label(*read, r.in_neg));
}

TEST(ConstructBuilders, ReservedEdgeNeedsAFreeNode) {
  auto net = std::make_unique<NetworkTables>();
  net->node_count = 42;
  net->node_list[43] = 5;
  kavrel::add_reserved_edge(*net);
  EXPECT_EQ(net->node_count, 43);
  EXPECT_EQ(net->node_list[43], 0);  // unlabelled
  EXPECT_EQ(net->passive_edges[1].name, 1);
  EXPECT_EQ(net->passive_edges[1].node1, 43);
  EXPECT_EQ(net->passive_edges[1].node2, 1);
  EXPECT_STREQ(net->branch_name_list[1], "x");
  net->passive_edges[1].node1 = 7;
  kavrel::add_reserved_edge(*net);
  EXPECT_EQ(net->node_count, 43);
  EXPECT_EQ(net->passive_edges[1].node1, 7);
}

}  // namespace
