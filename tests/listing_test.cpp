#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "input/listings.h"
#include "support/run_capture.h"

namespace {

using kavrel_test::run_normalized;

const char kBanner[] = "{program file name kavrel}\n";
const char kElapsed[] = "{elapsed time: #/1000 sec.}\n";
const char kNoMatch[] = " none does not match the list of parameter names, see help info.\n";

// The resource listing of the demo netlist below.
const char kDemoResources[] =
    " currently configured resource limits:\n"
    "branch name list limit:90, used:5\n"
    "node list limit:35, used:5\n"
    "passive edges limit:60, used:3\n"
    "active edges limit:30, used:2\n";

const char kDemoInternal[] =
    "Internal representation of data including generated elements and reassigned node#s:\n"
    "edge,name,node#'s...\n"
    "  1 x 5 1\n"
    "  2 r1 1 2\n"
    "  3 a 3 2\n"
    "  4 U 3 4 1 4\n"
    "  5 o 2 4 4 3\n"
    "  6 f 1 4 2 4\n"
    "internal node#  input node#:\n"
    "             1    1\n"
    "             2    2\n"
    "             3    1000\n"
    "             4    0\n"
    "             5    0\n"
    "\nedge namelist: index, value, numeric value\n"
    "  1, x\n"
    "  2, r1 1000\n"
    "  3, U\n"
    "  4, o\n"
    "  5, a\n"
    "\n";

std::string demo(const char* bits) {
  return std::string("{demo} r1 1 2 v 1e3, U 2 0 1 0, f 1 0 2 0, p none, t ") + bits + ", e\n";
}

std::string demo_echo(const char* bits) {
  return std::string("\ninput data:\n{demo} r1 1 2 v 1000, U 2 0 1 0, f 1 0 2 0, p none") +
         kNoMatch + ", t " + bits + ", e\n\n";
}

// What every run prints after its last complete netlist: the reader's header
// and the newline left pending by the end entry.
const char kFinalRead[] = "\ninput data:\n\n";

TEST(Run, EmptyInput) {
  EXPECT_EQ(run_normalized(""), std::string(kBanner) + "\ninput data:\n" + kElapsed);
}

TEST(Run, BothListingsResourceListingFirst) {
  EXPECT_EQ(run_normalized(demo("65")), std::string(kBanner) + demo_echo("65") + kDemoResources +
                                            kDemoInternal + kFinalRead + kElapsed);
}

TEST(Run, ResourceListingOnly) {
  EXPECT_EQ(run_normalized(demo("64")),
            std::string(kBanner) + demo_echo("64") + kDemoResources + kFinalRead + kElapsed);
}

TEST(Run, InternalRepresentationOnly) {
  EXPECT_EQ(run_normalized(demo("1")),
            std::string(kBanner) + demo_echo("1") + kDemoInternal + kFinalRead + kElapsed);
}

TEST(Run, ZeroValueIsListedWithoutValueAndSharedValuesAreListedEverywhere) {
  const std::string out = run_normalized("g1 1 2 v 0 g2 1 2 v 2.5 g2 2 0 f 1 0 2 0 p none t 1 e");
  EXPECT_NE(out.find("\n  2, g1\n  3, g2 2.5\n  4, g2 2.5\n\n"), std::string::npos);
}

TEST(Run, ErrorPrintsNoListing) {
  EXPECT_EQ(run_normalized("t 65 r1 1 2 e"),
            std::string(kBanner) + "\ninput data:\nt 65 r1 1 2 e\n\n" +
                "please provide a port node indication: f (lower case or upper case),\n"
                "whitespace, +port1 node#, whitespace, -port1 node#, whitespace, +port2 node#, "
                "whitespace, -port2 node#\n\r"
                "example:\nf 1 0 2 4\n" +
                kElapsed);
}

TEST(Run, SecondOfThreeNetlistsStopsTheRun) {
  const std::string input =
      "r1 1 2 f 1 0 2 0 p none e\n"
      "r2 1 2 q 1\n"
      "r3 1 2 f 1 0 2 0 e\n";
  EXPECT_EQ(run_normalized(input),
            std::string(kBanner) + "\ninput data:\nr1 1 2 f 1 0 2 0 p none" + kNoMatch + " e\n\n" +
                "\ninput data:\n\nr2 1 2 q" +
                "unrecognized element prefix-- 'q': must be r,l,c,g,y,z,gm,gy,o,u,b,rm,m,n,p,f,e,v,x\n"
                "h as input prints help\n" +
                kElapsed);
}

TEST(Run, NetlistWithoutEndEntryIsReadToTheEndAndNotAnalysed) {
  EXPECT_EQ(run_normalized("r1 1 2 f 1 0 2 0 t 1\n"),
            std::string(kBanner) + "\ninput data:\nr1 1 2 f 1 0 2 0 t 1\n" + kElapsed);
}

TEST(Run, RunsInOneProcessDoNotAffectEachOther) {
  const std::string first = demo("65") + "x t 64 r9 1 2";  // ends inside a netlist
  const std::string second = "r1 1 2 f 1 0 2 0 p none t 1 e";
  const std::string alone = run_normalized(second);
  run_normalized(first);
  EXPECT_EQ(run_normalized(second), alone);
  EXPECT_NE(alone.find("  2 r1 1 2\n  3 f 1 3 2 3\n"), std::string::npos);
}

TEST(Listing, ScatteringVariantHasASubtitleAndAnotherNameHeader) {
  auto net = std::make_unique<kavrel::NetworkTables>();
  net->passive_edge_count = 2;
  net->passive_edges[1] = {1, 3, 1};
  net->passive_edges[2] = {2, 1, 2};
  net->active_edge_count = 1;
  net->active_edges[1] = {3, 1, 2, 2, 3};
  net->port_nodes[0] = 1;
  net->port_nodes[1] = 2;
  net->port_nodes[2] = 2;
  net->port_nodes[3] = 2;
  net->node_count = 3;
  net->node_list[1] = 10;
  net->node_list[2] = 1000;
  net->branch_name_count = 3;
  std::strcpy(net->branch_name_list[1], "x");
  std::strcpy(net->branch_name_list[2], "Y0");
  std::strcpy(net->branch_name_list[3], "o");
  net->numeric_values[2] = -1.5e-3;
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  kavrel::print_network_listing(*net, out, "this is the subtitle.\n", "\nedge namelist: index, value\n");
  std::fclose(out);
  EXPECT_EQ(std::string(buffer, size),
            "Internal representation of data including generated elements and reassigned node#s:\n"
            "this is the subtitle.\n"
            "edge,name,node#'s...\n"
            "  1 x 3 1\n"
            "  2 Y0 1 2\n"
            "  3 o 1 2 2 3\n"
            "  4 f 1 2 2 2\n"
            "internal node#  input node#:\n"
            "             1    10\n"
            "             2    1000\n"
            "             3    0\n"
            "\nedge namelist: index, value\n"
            "  1, x\n"
            "  2, Y0 -0.0015\n"
            "  3, o\n"
            "\n");
  std::free(buffer);
}

}  // namespace
