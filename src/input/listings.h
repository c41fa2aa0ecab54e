#pragma once

#include <cstdio>

#include "input/network_tables.h"

namespace kavrel {

// The internal representation listing: edges, port row, nodes, names.
// subtitle_line (may be nullptr) is printed after the first line;
// namelist_header is the line that introduces the name rows.
void print_network_listing(const NetworkTables& net, FILE* out, const char* subtitle_line,
                           const char* namelist_header);

void print_resource_listing(const NetworkTables& net, FILE* out);

}  // namespace kavrel
