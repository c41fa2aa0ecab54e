#include "analysis/driver.h"

#include <new>

#include "analysis/param_table.h"
#include "analysis/printing_visit.h"
#include "analysis/scattering_ahead.h"
#include "analysis/scattering_stage.h"
#include "output/assembly.h"
#include "trees/memory.h"
#include "trees/run_monitor.h"
#include "trees/topofun.h"

namespace kavrel {

namespace {

void request_once(NetworkTables& net, TopofunStores& stores, FILE* out, int topofun,
                  int& requests, int32_t& function_counter, EvaluationsAhead& ahead) {
  if (stores.topofun_evaluated[topofun]) return;
  // After a write failure nothing more is computed; an unset flag keeps the
  // function's parameters from being printed.
  if (run_stopped(stores.stats)) return;
  stores.topofun_evaluated[topofun] = 1;
  ++requests;
  take_or_evaluate(net, stores, out, topofun, function_counter, ahead);
}

void run_ordinary_stage(NetworkTables& net, TopofunStores& stores, FILE* out,
                        const int32_t (&labels)[4], ScatteringAhead& scattering_ahead) {
  for (int32_t& flag : stores.topofun_evaluated) flag = 0;
  int requests = 0;
  int32_t function_counter = 0;
  OhmUnitFactors unit_factors;

  TopofunList wanted;
  for (int r = 0; r < kParamRows; ++r) {
    const ParamRow& row = param_table[r];
    if (!net.param_selected[r] || is_scattering_row(row)) continue;
    wanted.add(row.num_topofun);
    wanted.add(row.den_topofun);
  }
  EvaluationsAhead ahead;
  ahead.evaluate(net, stores.stats, wanted);

  for (int r = 0; r < kParamRows; ++r) {
    const ParamRow& row = param_table[r];
    function_counter = row.param_code;
    if (!net.param_selected[r] || is_scattering_row(row)) continue;
    note_parameter(stores.stats, param_names[r]);
    request_once(net, stores, out, row.num_topofun, requests, function_counter, ahead);
    request_once(net, stores, out, row.den_topofun, requests, function_counter, ahead);
  }
  if (requests == 0) return;
  // The tables stay as they are while the functions print.
  scattering_ahead.start(net, stores);

  const LastUses uses = last_uses(net, stores, false);
  {
    // The passes over a function, and the functions after it, take the
    // blocks the earlier ones left.
    const KeptBlocksScope reuse;
    for (int r = 0; r < kParamRows; ++r) {
      const ParamRow& row = param_table[r];
      if (!prints_row(net, stores, r, false)) continue;
      std::fprintf(
          out, " Function:\n %s( %d, %d; %d, %d) = %s( %d, %d)/%s( %d, %d) for %s( %d, %d)=0\n",
          row.param_letter, labels[row.first_port_pos], labels[row.first_port_neg],
          labels[row.second_port_pos], labels[row.second_port_neg], row.num_quantity,
          labels[row.num_pos], labels[row.num_neg], row.den_quantity, labels[row.den_pos],
          labels[row.den_neg], row.held_quantity, labels[row.held_pos], labels[row.held_neg]);
      print_tree_buf(net, unit_factors, stores, out, row.sign, row.num_topofun, row.den_topofun,
                     uses.row[row.num_topofun] == r, uses.row[row.den_topofun] == r);
    }
  }
  release_term_stores(stores);
}

}  // namespace

void evaluate_within_memory(NetworkTables& net, TopofunStores& stores, FILE* out, int topofun,
                            int32_t& function_counter) {
  try {
    evaluate_topofun(net, stores, out, net.passive_snapshot, net.active_edge_count,
                     net.tree_branch_count, topofun, function_counter);
  } catch (const std::bad_alloc&) {
    free_term_store(stores.stores[topofun]);
    stores.topofun_evaluated[topofun] = 0;
    std::fprintf(out,
                 "insufficient memory to buffer common trees; remainder of function evaluation "
                 "skipped\n");
  }
}

void take_or_evaluate(NetworkTables& net, TopofunStores& stores, FILE* out, int topofun,
                      int32_t& function_counter, EvaluationsAhead& ahead) {
  if (ahead.take(net, stores, topofun)) {
    ++function_counter;
    return;
  }
  evaluate_within_memory(net, stores, out, topofun, function_counter);
}

void analyse_netlist(NetworkTables& net, FILE* out, RunStats* stats) {
  TopofunStores stores;
  stores.stats = stats;
  const int32_t labels[4] = {net.port_labels[0], net.port_labels[1], net.port_labels[2],
                             net.port_labels[3]};
  ScatteringAhead scattering_ahead;
  run_ordinary_stage(net, stores, out, labels, scattering_ahead);
  run_scattering_stage(net, stores, out, labels, scattering_ahead);
}

}  // namespace kavrel
