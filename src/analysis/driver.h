#pragma once

#include <cstdio>

#include "input/network_tables.h"
#include "trees/run_stats.h"

namespace kavrel {

// Evaluates and prints every selected parameter of the netlist in the tables.
void analyse_netlist(NetworkTables& net, FILE* out, RunStats* stats = nullptr);

}  // namespace kavrel
