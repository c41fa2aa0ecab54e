#pragma once

#include <cstdint>
#include <cstdio>

#include "input/network_tables.h"

namespace kavrel {

// Labels of 1000 or more are refused. While an entry is read, the reader
// hands each one on as kOversizedLabelBase + its position in the entry and
// keeps its digits as typed here (empty otherwise), for the message that
// refuses it.
struct OversizedLabelDigits {
  char digits[4][kLabelDigitsBytes] = {};
};

// Internal node of an input label, created on first use; 1 (with a message)
// for a label of 1000 or more or a full node list.
int32_t node_of_label(NetworkTables& net, FILE* out, uint32_t label,
                      const OversizedLabelDigits* oversized = nullptr);
// A new generated node; 1 (with a message) when the node list is full.
int32_t new_internal_node(NetworkTables& net, FILE* out);
int32_t find_first_name(const NetworkTables& net, FILE* out, int32_t slot);
void build_name_index(NetworkTables& net, FILE* out);

}  // namespace kavrel
