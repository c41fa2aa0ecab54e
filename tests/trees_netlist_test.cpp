// Topological functions of netlists read by the netlist reader: verdicts,
// signs and terms of small circuits worked out by hand.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "input/netlist_reader.h"
#include "input/network_tables.h"
#include "support/store_probes.h"
#include "trees/term_store.h"
#include "trees/topofun.h"

namespace {

using kavrel::NetworkTables;
using kavrel::TermStore;

std::string read_output(FILE* out, char*& buffer, std::size_t& length) {
  std::fflush(out);
  return std::string(buffer, length);
}

class NetlistTest : public ::testing::Test {
 protected:
  ~NetlistTest() override {
    kavrel::release_term_stores(stores_);
    std::fclose(out_);
    std::free(buffer_);
  }

  void read(const std::string& netlist) {
    FILE* in = fmemopen(const_cast<char*>(netlist.data()), netlist.size(), "r");
    FILE* echo = std::fopen("/dev/null", "w");
    kavrel::InputStream input{in, echo, 0};
    ASSERT_EQ(kavrel::read_netlist(input, *net_), 0);
    std::fclose(in);
    std::fclose(echo);
  }

  // Output of one evaluation alone.
  std::string evaluate(int code, int32_t bits) {
    net_->test_bitmap = bits;
    const std::size_t before = read_output(out_, buffer_, length_).size();
    stores_.topofun_evaluated[code] = 1;
    kavrel::evaluate_topofun(*net_, stores_, out_, net_->passive_snapshot,
                             net_->active_edge_count, net_->tree_branch_count, code,
                             function_counter_);
    return read_output(out_, buffer_, length_).substr(before);
  }

  std::string bucket(int code, int power) const {
    return kavrel_test::bucket_text(*net_, stores_.stores[code], power);
  }


  std::unique_ptr<NetworkTables> net_ = std::make_unique<NetworkTables>();
  kavrel::TopofunStores stores_;
  int32_t function_counter_ = 0;
  char* buffer_ = nullptr;
  std::size_t length_ = 0;
  FILE* out_ = open_memstream(&buffer_, &length_);
};

std::string tree_lines(const std::string& output) {
  std::string lines;
  std::size_t at = 0;
  while ((at = output.find(" raw i-tree no.", at)) != std::string::npos) {
    const std::size_t end = output.find('\n', at);
    lines += output.substr(at, end + 1 - at);
    at = end;
  }
  return lines;
}

TEST_F(NetlistTest, InvertingAmplifier) {
  read("opamp 2 0 3 0\nrin 1 3\nrf 2 3\nf 1 0 2 0\ne\n");
  evaluate(0, 0);
  EXPECT_EQ(bucket(0, 0), "rin rf (1)");
  const std::string w = evaluate(1, 8);
  EXPECT_NE(w.find("v-tree permutation:   3(opamp)   4(rin)  -2(f) \n"
                   "i-tree permutation:   2(f)  -3(opamp)  -4(rin) \n"
                   "resulting sign= -1\n"),
            std::string::npos);
  EXPECT_EQ(bucket(1, 0), "rin (-1)");
  EXPECT_EQ(tree_lines(evaluate(5, 2)),
            " raw i-tree no.     1 edges:  2(f1)   3(f2)   4(opamp)  rejected: no corresponding "
            "v-tree\n");
  EXPECT_EQ(stores_.stores[5].terms_used, 0);
}

// Two resistors across a gyrator: V = r1 r2 + gy1^2, both edges of the
// gyrator carry its one symbol.
TEST_F(NetlistTest, GyratorSymbolSquared) {
  read("gy1 1 0 2 0\nr1 1 0\nr2 2 0\nf 1 0 2 0\ne\n");
  evaluate(0, 0);
  EXPECT_EQ(bucket(0, 0), "gy1^2 (1); r1 r2 (1)");
}

// The unity-gain Sallen-Key low-pass of the walk-through (U with its op amp
// and unit element): H = U G1 G2 / (s^2 C1 C2 + s (G1 C2 + G2 C2 + (1 - U)
// G2 C1) + G1 G2), numerator and denominator sharing a factor -1.
TEST_F(NetlistTest, SallenKeyLowPass) {
  read("r1 1 4\nr2 4 5\nc1 2 4\nc2 5 3\nU 2 3 5 3\nf 1 3 2 3\np g21\ne\n");
  EXPECT_NE(evaluate(1, 64).find("opampcnt= 1\n"), std::string::npos);
  EXPECT_EQ(bucket(1, 0), "r1 r2 U (-1)");
  EXPECT_EQ(bucket(1, 1), "");
  evaluate(2, 0);
  EXPECT_EQ(bucket(2, 0), "r1 r2 (-1)");
  EXPECT_EQ(bucket(2, 1), "r1 c2 (-1); r2 c1 U (1); r2 c1 (-1); r2 c2 (-1)");
  EXPECT_EQ(bucket(2, 2), "c1 c2 (-1)");
}

}  // namespace
