#include "analysis/scattering_stage.h"

#include <algorithm>
#include <iterator>

#include "analysis/conjugation.h"
#include "analysis/driver.h"
#include "analysis/param_table.h"
#include "analysis/printing_visit.h"
#include "analysis/scattering_ahead.h"
#include "analysis/scattering_embedding.h"
#include "output/assembly.h"
#include "trees/memory.h"
#include "trees/run_monitor.h"
#include "trees/topofun.h"

namespace kavrel {

namespace {

void request(NetworkTables& net, TopofunStores& stores, FILE* out, int topofun, int row,
             int32_t& function_counter, EvaluationsAhead& ahead) {
  if (run_stopped(stores.stats)) return;
  note_parameter(stores.stats, param_names[row]);
  stores.topofun_evaluated[topofun] = 1;
  take_or_evaluate(net, stores, out, topofun, function_counter, ahead);
}

bool every_numerator_fits(const NetworkTables& net) {
  for (int r = 0; r < kParamRows; ++r) {
    if (net.param_selected[r] && is_scattering_row(param_table[r]) &&
        !topofun_fits(net, param_table[r].num_topofun)) {
      return false;
    }
  }
  return true;
}

// The functions evaluated once every selected row's numerator is.
struct EvaluatedFlags {
  int32_t flags[kTopofunCount];
};
EvaluatedFlags once_requested(const NetworkTables& net, const TopofunStores& stores) {
  EvaluatedFlags evaluated;
  std::copy(std::begin(stores.topofun_evaluated), std::end(stores.topofun_evaluated),
            evaluated.flags);
  for (int r = 0; r < kParamRows; ++r) {
    if (net.param_selected[r] && is_scattering_row(param_table[r])) {
      evaluated.flags[param_table[r].num_topofun] = 1;
    }
  }
  return evaluated;
}

}  // namespace

void run_scattering_stage(NetworkTables& net, TopofunStores& stores, FILE* out,
                          const int32_t (&port_labels)[4], ScatteringAhead& ahead) {
  for (int32_t& flag : stores.topofun_evaluated) flag = 0;
  int requests = 0;
  bool embedded = false;
  int32_t function_counter = 0;
  // The embedding and the conjugation rebuild the name index: the factors
  // of the ordinary stage do not carry over.
  OhmUnitFactors unit_factors;

  EvaluationsAhead denominators_evaluated_here;
  EvaluationsAhead* denominators_ahead = nullptr;
  for (int r = 0; r < kParamRows; ++r) {
    const ParamRow& row = param_table[r];
    if (!net.param_selected[r]) continue;
    function_counter = row.param_code;
    if (!is_scattering_row(row)) continue;
    if (!embedded) {
      embedded = true;
      if (embed_s_param(net, out) != 0) return;
      denominators_ahead = ahead.denominators(stores.stats);
      if (denominators_ahead == nullptr) {
        denominators_evaluated_here.evaluate(net, stores.stats,
                                             scattering_functions(net, stores, false));
        denominators_ahead = &denominators_evaluated_here;
      }
    }
    if (!stores.topofun_evaluated[row.den_topofun]) {
      ++requests;
      request(net, stores, out, row.den_topofun, r, function_counter, *denominators_ahead);
    }
  }
  if (requests == 0) return;

  int converters = 0;
  if (conjugate_normalizing_networks(net, out, &converters) != 0) {
    release_term_stores(stores);
    return;
  }
  // Every common tree of the numerators holds each converter's op amp, and a
  // converter realizes minus its element only up to a sign common to all those
  // trees. The denominators were evaluated without the converters, so that
  // sign does not cancel in the ratio: take it out here.
  const int conjugation_sign = converters % 2 == 0 ? 1 : -1;

  EvaluationsAhead numerators_evaluated_here;
  EvaluationsAhead* numerators_ahead = ahead.numerators(stores.stats);
  const bool evaluated_by_ahead = numerators_ahead != nullptr;
  if (!evaluated_by_ahead) {
    numerators_evaluated_here.evaluate(net, stores.stats, scattering_functions(net, stores, true));
    numerators_ahead = &numerators_evaluated_here;
  }
  auto request_numerator = [&](int r) {
    const ParamRow& row = param_table[r];
    function_counter = row.param_code;
    if (!is_scattering_row(row) || stores.topofun_evaluated[row.num_topofun]) return;
    if (evaluated_by_ahead) ahead.numerator(row.num_topofun, stores.stats);
    request(net, stores, out, row.num_topofun, r, function_counter, *numerators_ahead);
  };
  // Rows print as their numerators come in, while the later ones are still
  // being evaluated. A numerator that the tables cannot hold prints that it
  // is skipped, before every row: then all are requested first. (One that
  // fails ahead for want of memory is evaluated again in its row's turn.)
  const bool print_as_they_come = evaluated_by_ahead && every_numerator_fits(net);
  if (!print_as_they_come) {
    for (int r = 0; r < kParamRows; ++r) {
      if (net.param_selected[r]) request_numerator(r);
    }
  }

  const LastUses uses = print_as_they_come ? last_uses(net, once_requested(net, stores).flags, true)
                                           : last_uses(net, stores, true);
  {
    const KeptBlocksScope reuse;
    for (int r = 0; r < kParamRows; ++r) {
      const ParamRow& row = param_table[r];
      if (print_as_they_come && net.param_selected[r]) request_numerator(r);
      if (!prints_row(net, stores, r, true)) continue;
      std::fprintf(out, " Function:\n %s( %d, %d; %d, %d) for %s normalization\n",
                   row.param_letter, port_labels[row.first_port_pos],
                   port_labels[row.first_port_neg], port_labels[row.second_port_pos],
                   port_labels[row.second_port_neg], normalization_name(net.norm_mode));
      print_tree_buf(net, unit_factors, stores, out, row.sign * conjugation_sign, row.num_topofun,
                     row.den_topofun, uses.row[row.num_topofun] == r,
                     uses.row[row.den_topofun] == r);
    }
  }
  release_term_stores(stores);
}

}  // namespace kavrel
