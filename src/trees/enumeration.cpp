#include "trees/enumeration.h"

#include <climits>

#include "analysis/param_table.h"
#include "trees/enumeration_policy.h"
#include "trees/qualification.h"
#include "trees/run_monitor.h"
#include "trees/shared_enumeration.h"
#include "trees/term_index.h"
#include "trees/term_insert.h"
#include "trees/tree_enumerator.h"
#include "trees/tree_listings.h"
#include "trees/tree_terms.h"

namespace kavrel {

namespace {

QualificationSettings qualification_settings(const NetworkTables& net, const EdgeLists& lists,
                                             int nodes, int form,
                                             const EnumerationPolicy& policy, FILE* out) {
  QualificationSettings qualification;
  qualification.net = &net;
  qualification.lists = &lists;
  qualification.nodes = nodes;
  qualification.form = form;
  qualification.opampcnt = net.opampcnt;
  qualification.list_raw_trees = (net.test_bitmap & kBitRawTrees) != 0;
  qualification.v_test_redundant = policy.v_test_redundant;
  qualification.v_acyclic = policy.pruning.non_common_trees;
  qualification.out = out;
  return qualification;
}

TermContext term_context_for(const NetworkTables& net, const EdgeLists& lists,
                             int32_t function_counter, FILE* out) {
  TermContext context;
  context.dbranchmap = lists.dbranchmap;
  context.test_bitmap = net.test_bitmap;
  context.netlist_count = net.netlist_count;
  context.function_counter = function_counter;
  context.out = out;
  return context;
}

// The raw i-trees this evaluation may still generate under the run's budget.
long long raw_tree_limit(const RunStats* stats) {
  if (stats == nullptr || stats->raw_tree_budget <= 0) return LLONG_MAX;
  return stats->budget_exhausted ? 0 : stats->raw_tree_budget - stats->raw_i_trees;
}

void record_stats(RunStats* stats, long long raw_trees, long long common_trees, int terms) {
  if (stats == nullptr) return;
  stats->raw_i_trees += raw_trees;
  stats->common_trees += common_trees;
  stats->terms += terms;
}

// A term could not be stored: the store is given up, so that nothing reads
// its partial contents, and the driver may request the function again.
void abandon_store(TopofunStores& stores, int topofun, long long raw_trees,
                   long long common_trees, FILE* out) {
  free_term_store(stores.stores[topofun]);
  stores.topofun_evaluated[topofun] = 0;
  std::fprintf(out, "insufficient memory for combining admittance terms\n");
  print_tree_counters(raw_trees, common_trees, out);
  record_stats(stores.stats, raw_trees, common_trees, 0);
}

// Ends the progress line on every way out.
struct EnumerationEnd {
  RunMonitor* monitor;
  ~EnumerationEnd() {
    if (monitor != nullptr) monitor->end_enumeration();
  }
};

}  // namespace

int product(const NetworkTables& net, const EdgeLists& lists, TopofunStores& stores, FILE* out,
            int minty_nodes, int actual_nodes, int form, int topofun, int32_t function_counter) {
  const int32_t bits = net.test_bitmap;
  const int nodes = minty_nodes;
  TermStore& store = stores.stores[topofun];
  RunStats* stats = stores.stats;

  if (bits & kFormulaBits) {
    std::fprintf(out, "product:: minty_nodes:%d, edges:%d, actual_nodes:%d, form:%d, topofun:%d\n",
                 minty_nodes, lists.edges, actual_nodes, form, topofun);
  }
  if (bits & kGraphListingBits) print_graph_listing(net, lists, form, out);

  // Tests can force the exact enumeration and insertion, to hold the
  // shortcuts against them.
  const bool exact_enumeration_only = stats != nullptr && stats->exact_enumeration_only;
  const EnumerationPolicy policy =
      choose_policy(lists, nodes, bits, exact_enumeration_only, store.terms_used == 0);
  if (stores.raw_trees_counted[topofun] > store.term_capacity) {
    reserve_term_rows(store, stores.raw_trees_counted[topofun]);
  }
  const QualificationSettings qualification =
      qualification_settings(net, lists, nodes, form, policy, out);
  TermContext term_context = term_context_for(net, lists, function_counter, out);

  RunMonitor* monitor = stats != nullptr ? stats->monitor : nullptr;
  if (monitor != nullptr) {
    monitor->begin_enumeration(topofun_names[topofun], lists, nodes,
                               policy.pruning.non_common_trees);
  }
  const EnumerationEnd enumeration_end{monitor};
  const bool list_accepted_edges = (bits & kBitRawTrees) != 0;
  // A large function goes on over several threads once it has filed enough
  // trees on this one. Should that fail, it starts again on this one alone.
  long long share_after = trees_before_sharing(net, policy, stats);
  for (;;) {
    TermIndex index;
    term_context.index = nullptr;
    if (policy.index_terms && index.start(policy.terms_distinct)) term_context.index = &index;

    TreeEnumerator enumerator(lists, qualification, raw_tree_limit(stats), policy.pruning,
                              monitor);
    TreeSigner signer(net, lists, nodes, policy.all_signs_plus, out);
    TreeTerm term;
    long long common_tree_count = 0;
    SharedEnumeration rest;
    bool sharing_failed = false;
    for (enumerator.next_tree(); enumerator.enum_state == EnumState::kTreeReady;
         enumerator.next_tree()) {
      ++common_tree_count;
      const TreeEdgeList& tree = enumerator.tree();
      const int sign =
          policy.pruning.incremental_sign ? enumerator.tree_sign() : signer.sign(tree);
      derive_term(lists, tree, term);
      if (list_accepted_edges) {
        print_accepted_edges(net, lists, term.admittance_edges, term.count, out);
      }
      if (add_term(sign, term.power, term.count, term.admittance_edges, store, term_context) !=
          0) {
        abandon_store(stores, topofun, enumerator.raw_tree_count, common_tree_count, out);
        return 1;
      }
      if (common_tree_count == share_after) {
        sharing_failed = !share_rest(enumerator, lists, qualification, policy, term_context, net,
                                     stats, store, rest);
        break;
      }
    }
    if (sharing_failed) {
      clear_terms(store);
      share_after = -1;
      continue;
    }

    index.finish(store);
    store.as_filed = true;
    release_unfilled_room(store);
    const long long raw_trees = enumerator.raw_tree_count + rest.raw_trees;
    common_tree_count += rest.common_trees;
    if (enumerator.budget_reached && stats != nullptr) stats->budget_exhausted = true;
    if (bits & kBitResources) print_tree_counters(raw_trees, common_tree_count, out);
    record_stats(stats, raw_trees, common_tree_count, store.terms_used);
    return 0;
  }
}

}  // namespace kavrel
