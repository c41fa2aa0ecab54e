#pragma once

#include <cstdio>

#include "input/network_tables.h"
#include "input/tokenizer.h"

namespace kavrel {

// Reads one netlist into the tables: 0 when it is complete and ready for
// analysis, 1 when the run is to stop (end of input, an error, help).
int read_netlist(InputStream& input, NetworkTables& net);

// Run whenever a network is complete (the end of reading, each augmentation):
// takes the count snapshots the analysis reads, rebuilds the name index and,
// under bit 1, prints the internal representation listing with the given
// subtitle (may be nullptr) and name-list header.
void complete_network(NetworkTables& net, FILE* out, const char* listing_subtitle,
                      const char* namelist_header);

}  // namespace kavrel
