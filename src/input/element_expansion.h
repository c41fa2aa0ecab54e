#pragma once

#include <cstdint>
#include <cstdio>

#include "input/network_tables.h"
#include "input/node_numbering.h"

namespace kavrel {

enum class ElementKind {
  kOnePort,           // r l c g y z
  kTransconductance,  // gm
  kOpAmp,             // o
  kVoltageAmplifier,  // u
  kCurrentAmplifier,  // b
  kTransresistance,   // rm
  kGyrator,           // gy
  kMutualInductance,  // m
};

// Kind of an element name by its first one or two characters; false when the
// name is not an element.
bool element_kind_of(const char* name, ElementKind& kind);

// Turns the element whose name is already stored in slot branch_name_count + 1
// into passive and active edges. labels are the numbers of the entry as read
// (two for a one-port, four for a two-port); a pending negation (negate_next)
// is applied and cleared. Returns 1, with a message, only when the tables
// cannot hold the element's edges; nodes beyond their limits are reported by
// the node numbering and replaced by node 1.
int expand_element(NetworkTables& net, FILE* out, ElementKind kind, const uint32_t labels[4],
                   const OversizedLabelDigits* oversized = nullptr);

}  // namespace kavrel
