#pragma once

#include <cstdio>

#include "analysis/evaluations_ahead.h"
#include "input/network_tables.h"
#include "trees/run_stats.h"
#include "trees/term_store.h"

namespace kavrel {

// Evaluates and prints every selected parameter of the netlist in the tables.
void analyse_netlist(NetworkTables& net, FILE* out, RunStats* stats = nullptr);

// Evaluates one topological function into its store (flag set by the
// caller). When the heap is exhausted inside the evaluation, the function's
// store is released and its flag cleared, with the message of a store that
// cannot grow, so that its parameters are skipped and the analysis goes on.
void evaluate_within_memory(NetworkTables& net, TopofunStores& stores, FILE* out, int topofun,
                            int32_t& function_counter);

// The same, or the result evaluated ahead when there is one.
void take_or_evaluate(NetworkTables& net, TopofunStores& stores, FILE* out, int topofun,
                      int32_t& function_counter, EvaluationsAhead& ahead);

}  // namespace kavrel
