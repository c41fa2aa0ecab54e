#include "input/help_text.h"

namespace kavrel {

void print_help(FILE*) {}

}  // namespace kavrel
