#include "input/node_numbering.h"

#include <cstring>

#include "input/table_limits.h"

namespace kavrel {

int32_t node_of_label(NetworkTables& net, FILE* out, uint32_t label,
                      const OversizedLabelDigits* oversized) {
  if (label > 999) {
    const uint32_t position = label - kOversizedLabelBase;
    if (oversized != nullptr && position < 4 && oversized->digits[position][0] != '\0') {
      std::fprintf(out, "node label %.*s must be less than 1000\n", kLabelDigitsBytes - 1,
                   oversized->digits[position]);
    } else {
      std::fprintf(out, "node label %u must be less than 1000\n", label);
    }
    return 1;
  }
  const int32_t wanted = static_cast<int32_t>(label);
  for (int32_t node = 1; node <= net.node_count && node < kNodeSlots; ++node)
    if (net.node_list[node] == wanted) return node;
  if (net.node_count >= kLabelledNodeLimit) {
    print_node_limit(out, net.node_count, kLabelledNodeLimit);
    return 1;
  }
  ++net.node_count;
  net.node_list[net.node_count] = wanted;
  return net.node_count;
}

int32_t new_internal_node(NetworkTables& net, FILE* out) {
  if (net.node_count >= kGeneratedNodeLimit) {
    print_node_limit(out, net.node_count, kGeneratedNodeLimit);
    return 1;
  }
  ++net.node_count;
  ++net.last_generated_label;
  net.node_list[net.node_count] = net.last_generated_label;
  return net.node_count;
}

int32_t find_first_name(const NetworkTables& net, FILE* out, int32_t slot) {
  if (slot < 0 || slot >= kNameSlots) return slot;
  const char* text = net.branch_name_list[slot];
  for (int32_t i = 1; i <= net.branch_name_count && i < kNameSlots; ++i)
    if (std::strcmp(net.branch_name_list[i], text) == 0) return i;
  std::fprintf(out, "can't find %s <=> branch[%d] in %d branches\n", text, slot,
               net.branch_name_count);
  return slot;
}

void build_name_index(NetworkTables& net, FILE* out) {
  const int32_t last = net.branch_name_count < kNameSlots ? net.branch_name_count : kNameSlots - 1;
  for (int32_t i = 1; i <= last; ++i) net.branchmap[i] = find_first_name(net, out, i);
  net.impedance_count = 0;
  for (int32_t i = 1; i <= last; ++i) {
    const int32_t j = net.branchmap[i];
    const char k = net.branch_name_list[j][0];
    net.powermap[i] = (k == 'c' || k == 'C' || k == 'l' || k == 'L' || k == 'm' || k == 'M') ? 1 : 0;
    net.fmap[i] = k == 'a' ? 16 : ((k == 'o' || k == 'O') ? 1 : 0);
    const bool impedance =
        k == 'r' || k == 'R' || k == 'z' || k == 'Z' || k == 'l' || k == 'L' || k == 'm' || k == 'M';
    if (j == i && impedance) net.impedance_list[net.impedance_count++] = j;
  }
}

}  // namespace kavrel
