#include "input/main_loop.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "analysis/driver.h"
#include "input/netlist_reader.h"
#include "trees/kept_threads.h"
#include "trees/run_monitor.h"
#include "trees/thread_count.h"

namespace kavrel {

namespace {

void report_write_failure(FILE* errors, int error_number) {
  if (errors == nullptr) return;
  if (error_number != 0) {
    std::fprintf(errors, "kavrel: output could not be written: %s\n", std::strerror(error_number));
  } else {
    std::fprintf(errors, "kavrel: output could not be written\n");
  }
  std::fflush(errors);
}

}  // namespace

int run_kavrel(FILE* in, FILE* out, const RunOptions& options) {
  std::clock_t start = std::clock();
  RunStats own_stats;
  RunStats* stats = options.stats != nullptr ? options.stats : &own_stats;
  RunMonitor monitor(out, options.progress);
  RunMonitor* const outer_monitor = stats->monitor;
  stats->monitor = &monitor;

  // The threads that work is shared out to wait between tasks, and one is
  // running before the first task, so that work handed out starts at once.
  const KeptThreadsScope kept_threads(usable_threads(stats) - 1 > 0 ? 1 : 0);
  std::fprintf(out, "{program file name kavrel}\n");
  // Each run owns its tables and its lookahead, so runs never affect each other.
  std::unique_ptr<NetworkTables> net(new (std::nothrow) NetworkTables());
  if (net != nullptr) {
    InputStream input{in, out, 0, &monitor};
    net->netlist_count = 0;
    while (read_netlist(input, *net) == 0 && !monitor.check_now()) {
      analyse_netlist(*net, out, stats);
      if (monitor.check_now()) break;
    }
  } else {
    std::fprintf(out, "insufficient memory for the network tables\n");
  }
  long elapsed_ms = static_cast<long>((std::clock() - start) * 1000.0 / CLOCKS_PER_SEC);
  std::fprintf(out, "{elapsed time: %d/%d sec.}\n", static_cast<int>(elapsed_ms), 1000);

  stats->monitor = outer_monitor;
  errno = 0;
  const bool flushed = std::fflush(out) == 0;
  if (!monitor.output_failed() && flushed) return 0;
  report_write_failure(options.errors, monitor.stopped() ? monitor.failure_errno() : errno);
  return 1;
}

int run_kavrel(FILE* in, FILE* out, RunStats* stats) {
  RunOptions options;
  options.stats = stats;
  return run_kavrel(in, out, options);
}

}  // namespace kavrel
