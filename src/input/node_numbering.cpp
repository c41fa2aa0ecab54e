#include "input/node_numbering.h"

namespace kavrel {

int32_t node_of_label(NetworkTables&, FILE*, uint32_t) { return 1; }
int32_t new_internal_node(NetworkTables&, FILE*) { return 1; }
int32_t find_first_name(const NetworkTables&, FILE*, int32_t slot) { return slot; }
void build_name_index(NetworkTables&, FILE*) {}

}  // namespace kavrel
