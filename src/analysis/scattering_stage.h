#pragma once

#include <cstdint>
#include <cstdio>

#include "analysis/scattering_ahead.h"
#include "input/network_tables.h"
#include "trees/term_store.h"

namespace kavrel {

// Evaluates and prints the selected s and F parameters: embeds the ports,
// evaluates the denominators, conjugates the normalizing networks, evaluates
// the numerators. port_labels are the labels of the port designator.
// Functions that `ahead` evaluated are taken from it.
void run_scattering_stage(NetworkTables& net, TopofunStores& stores, FILE* out,
                          const int32_t (&port_labels)[4], ScatteringAhead& ahead);

}  // namespace kavrel
