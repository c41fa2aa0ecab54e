#pragma once

#include <cstdio>

namespace kavrel {

void print_help(FILE* out);

}  // namespace kavrel
