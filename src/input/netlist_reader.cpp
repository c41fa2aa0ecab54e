#include "input/netlist_reader.h"

#include <cstring>

#include "analysis/param_table.h"
#include "input/element_expansion.h"
#include "input/help_text.h"
#include "input/construct_builders.h"
#include "input/listings.h"
#include "input/node_numbering.h"
#include "input/table_limits.h"

namespace kavrel {

namespace {

constexpr int kWordCapacity = 128;
constexpr int kMaxNameLength = kNameBytes - 1;

struct ReaderState {
  int32_t value_target = 1;
  bool port_given = false;
  bool param_seen = false;
  OversizedLabelDigits oversized;
};

void forget_oversized_labels(ReaderState& state) {
  for (char* digits : state.oversized.digits) digits[0] = '\0';
}

void reset_tables(NetworkTables& net) {
  ++net.netlist_count;
  net.test_bitmap = 0;
  net.negate_next = 0;
  net.norm_mode = 0;
  for (int32_t& node : net.norm_network_nodes) node = 0;
  net.opampcnt = 0;
  net.passive_edge_count = 1;
  net.branch_name_count = 1;
  net.node_count = 0;
  net.last_generated_label = 999;
  net.active_edge_count = 0;
  for (int32_t& label : net.node_list) label = 0;
  for (int32_t& selected : net.param_selected) selected = 1;
  for (double& value : net.numeric_values) value = 0.0;
  for (int32_t& flag : net.mutual_flag) flag = 0;
}

bool is_letter(char c, char lower) { return c == lower || c == lower - 'a' + 'A'; }

// A number as echoed: one too large for 32 bits as its digits.
void print_number(InputStream& input, uint32_t value) {
  if (input.number_saturated) {
    std::fprintf(input.out, "%s", input.number_digits);
  } else {
    std::fprintf(input.out, "%u", value);
  }
}

// Reads count labels, each echoed right after it is read (a number too large
// for 32 bits as its digits); false at the end of input. The digits of every
// label of 1000 or more are kept for the message that refuses it.
bool read_labels(InputStream& input, ReaderState& state, int count, uint32_t* labels) {
  for (int i = 0; i < count; ++i) {
    if (read_unsigned(input, labels[i]) != 0) return false;
    print_number(input, labels[i]);
    if (labels[i] > 999) {
      std::snprintf(state.oversized.digits[i], kLabelDigitsBytes, "%s", input.number_digits);
    }
  }
  return true;
}

// Labels of 1000 or more are only ever refused, by their position's digits.
void hand_on_oversized_labels(int count, uint32_t* labels) {
  for (int i = 0; i < count; ++i) {
    if (labels[i] > 999) labels[i] = kOversizedLabelBase + static_cast<uint32_t>(i);
  }
}

// A label as the function headers print it: labels beyond the signed range
// are shown as the largest one rather than as negative numbers.
int32_t label_as_int(uint32_t label) {
  return label > 2147483647u ? 2147483647 : static_cast<int32_t>(label);
}

// Equal name texts are one symbol: each gets the value of its lowest slot that
// has one.
void share_values(NetworkTables& net) {
  const int32_t last = net.branch_name_count < kNameSlots ? net.branch_name_count : kNameSlots - 1;
  for (int32_t i = 0; i <= last; ++i) {
    if (net.numeric_values[i] == 0.0) continue;
    for (int32_t j = 0; j <= last; ++j)
      if (j != i && std::strcmp(net.branch_name_list[i], net.branch_name_list[j]) == 0)
        net.numeric_values[j] = net.numeric_values[i];
  }
}

enum class EntryResult { kNext, kEnd, kStop };

EntryResult read_port(InputStream& input, NetworkTables& net, ReaderState& state) {
  FILE* out = input.out;
  if (state.port_given) {
    std::fprintf(out, "error-- more than one port indicator is used\n");
    return EntryResult::kStop;
  }
  state.port_given = true;
  uint32_t labels[4] = {0, 0, 0, 0};
  if (!read_labels(input, state, 4, labels)) return EntryResult::kStop;
  for (int i = 0; i < 4; ++i) net.port_labels[i] = label_as_int(labels[i]);
  hand_on_oversized_labels(4, labels);
  for (int i = 0; i < 4; ++i) net.port_nodes[i] = node_of_label(net, out, labels[i], &state.oversized);
  return EntryResult::kNext;
}

EntryResult read_param(InputStream& input, NetworkTables& net, ReaderState& state) {
  if (!state.param_seen) {
    state.param_seen = true;
    for (int32_t& selected : net.param_selected) selected = 0;
  }
  char word[kWordCapacity];
  int count = 0;
  if (read_word(input, count, kWordCapacity, word) != 0) return EntryResult::kStop;
  std::fprintf(input.out, "%s", word);
  int row = find_param_row(word);
  if (row < 0)
    std::fprintf(input.out, " %s does not match the list of parameter names, see help info.\n", word);
  else
    net.param_selected[row] = 1;
  return EntryResult::kNext;
}

EntryResult read_normalization(InputStream& input, NetworkTables& net, ReaderState& state,
                               char c1) {
  FILE* out = input.out;
  if (c1 == '\0') {
    uint32_t mode = 0;
    if (read_unsigned(input, mode) != 0) return EntryResult::kStop;
    print_number(input, mode);
    net.norm_mode = static_cast<int32_t>(mode);
    return EntryResult::kNext;
  }
  if (c1 == '1' || c1 == '2') {
    uint32_t labels[2] = {0, 0};
    if (!read_labels(input, state, 2, labels)) return EntryResult::kStop;
    hand_on_oversized_labels(2, labels);
    int32_t* pair = net.norm_network_nodes + (c1 == '1' ? 0 : 2);
    pair[0] = node_of_label(net, out, labels[0], &state.oversized);
    pair[1] = node_of_label(net, out, labels[1], &state.oversized);
    return EntryResult::kNext;
  }
  std::fprintf(out, "n1 node# node#  or n2 node# node# is proper usage for\n");
  std::fprintf(out, "scattering parameter normalizing network references\n");
  print_help(out);
  return EntryResult::kStop;
}

EntryResult read_element(InputStream& input, NetworkTables& net, ReaderState& state,
                         ElementKind kind) {
  uint32_t labels[4] = {0, 0, 0, 0};
  const int count = kind == ElementKind::kOnePort ? 2 : 4;
  if (!read_labels(input, state, count, labels)) return EntryResult::kStop;
  hand_on_oversized_labels(count, labels);
  if (expand_element(net, input.out, kind, labels, &state.oversized) != 0) return EntryResult::kStop;
  return EntryResult::kNext;
}

EntryResult read_entry(InputStream& input, NetworkTables& net, ReaderState& state) {
  FILE* out = input.out;
  forget_oversized_labels(state);
  char word[kWordCapacity];
  int count = 0;
  if (read_word(input, count, kWordCapacity, word) != 0) return EntryResult::kStop;
  if (std::strlen(word) > static_cast<size_t>(kMaxNameLength)) {
    std::fprintf(out, "following branch name was truncated to %d characters:\n", kMaxNameLength);
    word[kMaxNameLength] = '\0';
  }
  const int32_t next_slot = net.branch_name_count + 1;
  // Counts are tested after every entry, so the next slot always exists; the
  // test only guards against tables handed over in another state.
  if (next_slot < kNameSlots) std::strcpy(net.branch_name_list[next_slot], word);
  std::fprintf(out, "%s", word);

  const char c0 = word[0];
  const char c1 = c0 == '\0' ? '\0' : word[1];
  if (!is_letter(c0, 'v')) state.value_target = next_slot;

  ElementKind kind;
  // Only the one-port rule comes after f and p, whose letters no element shares.
  if (element_kind_of(word, kind)) return read_element(input, net, state, kind);
  if (is_letter(c0, 'f')) return read_port(input, net, state);
  if (is_letter(c0, 'p')) return read_param(input, net, state);
  if (is_letter(c0, 'n')) return read_normalization(input, net, state, c1);
  if (is_letter(c0, 'e')) {
    add_reserved_edge(net);
    return EntryResult::kEnd;
  }
  if (is_letter(c0, 'h')) {
    print_help(out);
    return EntryResult::kStop;
  }
  if (is_letter(c0, 't')) {
    uint32_t bits = 0;
    if (read_unsigned(input, bits) != 0) return EntryResult::kStop;
    print_number(input, bits);
    net.test_bitmap = static_cast<int32_t>(bits);
    return EntryResult::kNext;
  }
  if (is_letter(c0, 'v')) {
    double value = 0.0;
    if (read_real(input, value) != 0) return EntryResult::kStop;
    if (state.value_target >= 0 && state.value_target < kNameSlots)
      net.numeric_values[state.value_target] = value;
    std::fprintf(out, "%g", value);
    return EntryResult::kNext;
  }
  if (is_letter(c0, 'x')) {
    net.negate_next = 1;
    return EntryResult::kNext;
  }
  std::fprintf(out,
               "unrecognized element prefix-- '%s': must be "
               "r,l,c,g,y,z,gm,gy,o,u,b,rm,m,n,p,f,e,v,x\n",
               word);
  std::fprintf(out, "h as input prints help\n");
  return EntryResult::kStop;
}

}  // namespace

int read_netlist(InputStream& input, NetworkTables& net) {
  FILE* out = input.out;
  std::fprintf(out, "\ninput data:\n");
  reset_tables(net);
  ReaderState state;
  for (;;) {
    EntryResult result = read_entry(input, net, state);
    if (result == EntryResult::kStop) return 1;
    if (reading_limit_reached(net, out)) return 1;
    if (result == EntryResult::kEnd) break;
  }

  share_values(net);
  std::fprintf(out, "\n\n");
  if (!state.port_given) {
    std::fprintf(out, "please provide a port node indication: f (lower case or upper case),\n");
    std::fprintf(out,
                 "whitespace, +port1 node#, whitespace, -port1 node#, whitespace, +port2 node#, "
                 "whitespace, -port2 node#\n\r");
    std::fprintf(out, "example:\n");
    std::fprintf(out, "f 1 0 2 4\n");
    return 1;
  }
  if (net.test_bitmap & kBitResources) print_resource_listing(net, out);
  complete_network(net, out, nullptr, "\nedge namelist: index, value, numeric value\n");
  return 0;
}

void complete_network(NetworkTables& net, FILE* out, const char* listing_subtitle,
                      const char* namelist_header) {
  net.passive_snapshot = net.passive_edge_count;
  net.tree_branch_count = net.node_count - 1;
  build_name_index(net, out);
  if (net.test_bitmap & kBitInternalListing)
    print_network_listing(net, out, listing_subtitle, namelist_header);
}

}  // namespace kavrel
