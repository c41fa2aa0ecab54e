#pragma once

#include "input/network_tables.h"
#include "input/tokenizer.h"

namespace kavrel {

// Reads one netlist into the tables: 0 when it is complete and ready for
// analysis, 1 when the run is to stop (end of input, an error, help).
int read_netlist(InputStream& input, NetworkTables& net);

}  // namespace kavrel
