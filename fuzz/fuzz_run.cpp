// libFuzzer target: the input bytes are the whole standard input of one run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "input/main_loop.h"
#include "trees/kept_threads.h"
#include "trees/run_stats.h"

namespace {

// A valid netlist can hold millions of spanning trees; without a bound such an
// input would be reported as a hang although nothing is wrong with it. The
// default bound is low because every printed parameter reworks all its terms
// again: with it, the worst inputs found take about 3 s under the sanitizers.
// KAVREL_FUZZ_TREE_BUDGET sets another, for a slower run that reaches the
// growth of large term stores.
constexpr long long kDefaultRawTreeBudget = 10000;
long long raw_tree_budget = kDefaultRawTreeBudget;

// Room for netlists at every table limit, with comments and long names.
constexpr size_t kMaxInputBytes = 65536;

FILE* null_output() {
  static FILE* out = std::fopen("/dev/null", "w");
  if (out == nullptr) std::abort();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Each run keeps a thread waiting for work while it lasts; kept for the
  // whole process, it is started once instead of once per input.
  static const kavrel::KeptThreadsScope kept_threads;
  if (const char* budget = std::getenv("KAVREL_FUZZ_TREE_BUDGET")) {
    const long long value = std::strtoll(budget, nullptr, 10);
    if (value > 0) raw_tree_budget = value;
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInputBytes) return -1;  // not added to the corpus
  FILE* in = nullptr;
  std::vector<char> copy(data, data + size);
  // fmemopen refuses a zero-length buffer on some libcs.
  if (size == 0) {
    in = std::fopen("/dev/null", "r");
  } else {
    in = fmemopen(copy.data(), copy.size(), "r");
  }
  if (in == nullptr) std::abort();

  kavrel::RunStats stats;
  stats.raw_tree_budget = raw_tree_budget;
  int status = kavrel::run_kavrel(in, null_output(), &stats);
  std::fclose(in);
  if (status != 0) std::abort();  // the program's exit status is always 0
  // Every common tree is a raw i-tree, every stored term comes from at least
  // one common tree, and the budget stops the enumeration when it is reached.
  if (stats.common_trees > stats.raw_i_trees || stats.terms > stats.common_trees ||
      stats.raw_i_trees > raw_tree_budget) {
    std::abort();
  }
  return 0;
}
