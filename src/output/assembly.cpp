#include "output/assembly.h"

namespace kavrel {

int print_tree_buf(NetworkTables&, const TopofunStores&, FILE*, int, int, int) { return 1; }

}  // namespace kavrel
