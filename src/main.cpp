#include <cstdio>

#include "input/main_loop.h"

int main() { return kavrel::run_kavrel(stdin, stdout); }
