#include "input/listings.h"

namespace kavrel {

void print_network_listing(const NetworkTables&, FILE*, const char*, const char*) {}
void print_resource_listing(const NetworkTables&, FILE*) {}

}  // namespace kavrel
