#pragma once

#include <cstdint>
#include <cstdio>

#include "input/network_tables.h"

namespace kavrel {

// Replaces every reactive element of the marked normalizing networks by its
// conjugate (negates it) and rebuilds the reserved edge. 0 when done; 1, with
// a message and the tables unchanged, when the tables cannot take the change.
// `converters_added` receives the number of negative impedance converters
// embedded.
int conjugate_normalizing_networks(NetworkTables& net, FILE* out,
                                   int* converters_added = nullptr);

// Embeds a negative impedance converter into passive edge `edge`. 0 when done;
// 1 (tables unchanged) for an edge that does not exist or a full table.
int negate_passive_element(NetworkTables& net, FILE* out, int32_t edge);

// Exchanges the output nodes of active edge `edge`.
void negate_active_element(NetworkTables& net, FILE* out, int32_t edge);

}  // namespace kavrel
