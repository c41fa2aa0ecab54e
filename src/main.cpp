#include <csignal>
#include <cstdio>

#if __has_include(<unistd.h>)
#include <unistd.h>
#endif

#include "input/main_loop.h"

namespace {

// The one platform question kavrel asks: progress is drawn only for a person
// watching a terminal.
bool stderr_is_terminal() {
#if __has_include(<unistd.h>)
  return isatty(STDERR_FILENO) == 1;
#else
  return false;
#endif
}

}  // namespace

int main() {
#ifdef SIGPIPE
  // A reader that has gone shows up as a write error, which ends the run with
  // its message and exit status 1 instead of a silent kill.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  kavrel::RunOptions options;
  options.errors = stderr;
  options.progress = stderr_is_terminal() ? stderr : nullptr;
  return kavrel::run_kavrel(stdin, stdout, options);
}
