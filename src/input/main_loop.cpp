#include "input/main_loop.h"

#include <ctime>
#include <memory>

#include "analysis/driver.h"
#include "input/netlist_reader.h"

namespace kavrel {

int run_kavrel(FILE* in, FILE* out, RunStats* stats) {
  std::clock_t start = std::clock();
  std::fprintf(out, "{program file name kavrel}\n");
  // Each run owns its tables and its lookahead, so runs never affect each other.
  auto net = std::make_unique<NetworkTables>();
  InputStream input{in, out, 0};
  net->netlist_count = 0;
  while (read_netlist(input, *net) == 0) analyse_netlist(*net, out, stats);
  long elapsed_ms = static_cast<long>((std::clock() - start) * 1000.0 / CLOCKS_PER_SEC);
  std::fprintf(out, "{elapsed time: %d/%d sec.}\n", static_cast<int>(elapsed_ms), 1000);
  return 0;
}

}  // namespace kavrel
