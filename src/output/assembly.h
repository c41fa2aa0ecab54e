#pragma once

#include <cstdio>

#include "input/network_tables.h"
#include "output/fixup.h"
#include "trees/term_store.h"

namespace kavrel {

// Prints one two-port parameter from two evaluated topological functions,
// raising unit_factors for the functions that follow in the same stage:
// 0 when printed, 1 when it failed for want of memory. A function marked as
// at its last use is taken over as the working store instead of copied (the
// store is left empty): the copy of a large function costs as much as its
// evaluation.
int print_tree_buf(const NetworkTables& net, OhmUnitFactors& unit_factors, TopofunStores& stores,
                   FILE* out, int sign, int num_topofun, int den_topofun, bool numerator_last_use = false,
                   bool denominator_last_use = false);

// Makes destination (empty on entry) an exact working copy of source with the
// source's capacities; a negative sign negates every coefficient. The copy's
// rows hold `name_slots` exponents (the source's own when negative; never
// fewer than the source's). 1 when an array could not be obtained (message
// printed); whatever was obtained stays in destination for free_term_store.
int copy_term_store(int sign, TermStore& destination, const TermStore& source, FILE* out,
                    int name_slots = -1);

}  // namespace kavrel
