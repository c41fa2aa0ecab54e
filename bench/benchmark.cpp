// Times whole analyses of generated networks, each run in a fresh child
// process calling the library, and prints one table row per network: tree and
// term counts from RunStats, the rate of raw i-trees per second and the peak
// resident memory of a run. Not a test: it checks nothing beyond reporting a
// reader message or a memory failure in the row's note.
//
//   kavrel_benchmark [options] [filter]
//     filter          run only networks whose name contains this text (only the
//                     one network of that name, if there is one)
//     --max N         skip networks of size above N (sections, grid side, elements)
//     --all           include the heavy cases left out by default
//     --budget N      raw i-tree budget of every run (0: none); by default only
//                     grid_5x5 has one, since its half a billion trees would
//                     take hours
//     --min-time S    repeat a run until S seconds have passed, report the mean
//     --plain         enumerate every raw i-tree (no common-tree pruning), so the
//                     raw i-tree column and rate are those of the full enumeration
//     --list          list the selected networks and exit
//     --print         print the selected netlists (for piping into kavrel) and exit
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "input/main_loop.h"
#include "trees/run_stats.h"

namespace {

struct Network {
  std::string name;
  std::string param;
  int size;
  bool heavy;  // left out unless --all
  std::string netlist;
  long long budget = 0;  // raw i-trees, 0 for none
};

std::string entry(const char* format, auto... args) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

// r1 1 2, c1 2 0, r2 2 3, c2 3 0, ...: z21 from the input to the far end.
Network rc_ladder(int sections) {
  std::string text;
  for (int k = 1; k <= sections; ++k) {
    text += entry("r%d %d %d\n", k, k, k + 1);
    text += entry("c%d %d 0\n", k, k + 1);
  }
  text += entry("f 1 0 %d 0\np z21\nend\n", sections + 1);
  return {entry("rc_ladder_%d", sections), "z21", sections, sections > 14, text};
}

// Unity-gain Sallen-Key lowpass sections in cascade, each section's output
// driving the next one's input. Per section (input a, output b, inner nodes m
// and n): r a m; r m n; c b m; c n 0; and the amplifier from n to b, either a
// controlled source u or an ideal op amp o wired as a voltage follower.
Network sallen_key_cascade(int sections, bool ideal_opamp) {
  std::string text;
  int input = 1;
  int next_label = 2;
  for (int k = 1; k <= sections; ++k) {
    int m = next_label++;
    int n = next_label++;
    int output = next_label++;
    text += entry("r%d %d %d\n", 2 * k - 1, input, m);
    text += entry("r%d %d %d\n", 2 * k, m, n);
    text += entry("c%d %d %d\n", 2 * k - 1, output, m);
    text += entry("c%d %d 0\n", 2 * k, n);
    if (ideal_opamp) {
      text += entry("o%d %d 0 %d %d\n", k, output, n, output);
    } else {
      text += entry("u%d %d 0 %d 0\n", k, output, n);
    }
    input = output;
  }
  text += entry("f 1 0 %d 0\np g21\nend\n", input);
  return {entry(ideal_opamp ? "sallen_key_o_%d" : "sallen_key_u_%d", sections), "g21",
          sections, false, text};
}

// side x side nodes, a resistor between horizontal and vertical neighbours.
// Port 1 at the top-left corner, port 2 at the opposite (bottom-right) corner,
// both against the bottom-left corner.
Network resistor_grid(int side) {
  auto label = [side](int row, int col) { return row * side + col + 1; };
  std::string text;
  int count = 0;
  for (int row = 0; row < side; ++row) {
    for (int col = 0; col < side; ++col) {
      if (col + 1 < side) text += entry("r%d %d %d\n", ++count, label(row, col), label(row, col + 1));
      if (row + 1 < side) text += entry("r%d %d %d\n", ++count, label(row, col), label(row + 1, col));
    }
  }
  int bottom_left = label(side - 1, 0);
  text += entry("f %d %d %d %d\np z21\nend\n", label(0, 0), bottom_left,
                label(side - 1, side - 1), bottom_left);
  return {entry("grid_%dx%d", side, side), "z21", side, side > 4, text,
          side > 4 ? 300000 : 0};
}

// A connected random network of conductances, capacitors and transconductances.
// The generator's raw output (not a distribution object) makes the networks
// the same with every standard library.
Network random_gm(int elements, unsigned seed) {
  std::mt19937 rng(seed);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  int nodes = 3 + elements / 3;  // labels 0 .. nodes-1; ports at 1 and 2 against 0
  int g = 0, c = 0, gm = 0;
  std::string text;
  auto one_port = [&](int a, int b) {
    if (pick(2) == 0) {
      text += entry("g%d %d %d\n", ++g, a, b);
    } else {
      text += entry("c%d %d %d\n", ++c, a, b);
    }
  };
  // A random tree first, so that the graph is connected even when every
  // transconductance is counted as two one-ports.
  for (int v = 1; v < nodes; ++v) one_port(v, pick(v));
  for (int k = nodes - 1; k < elements; ++k) {
    if (pick(3) == 0) {
      int a = pick(nodes);
      int b = pick(nodes);
      if (a != b) {
        one_port(a, b);
        continue;
      }
    }
    int out_pos = pick(nodes), out_neg = (out_pos + 1 + pick(nodes - 1)) % nodes;
    int in_pos = pick(nodes), in_neg = (in_pos + 1 + pick(nodes - 1)) % nodes;
    text += entry("gm%d %d %d %d %d\n", ++gm, out_pos, out_neg, in_pos, in_neg);
  }
  text += "f 1 0 2 0\np y21\nend\n";
  return {entry("random_gm_%d", elements), "y21", elements, false, text};
}

std::vector<Network> all_networks() {
  std::vector<Network> list;
  for (int n = 1; n <= 16; ++n) list.push_back(rc_ladder(n));
  for (int n = 1; n <= 6; ++n) list.push_back(sallen_key_cascade(n, false));
  for (int n = 1; n <= 6; ++n) list.push_back(sallen_key_cascade(n, true));
  for (int n = 2; n <= 5; ++n) list.push_back(resistor_grid(n));
  for (int n = 6; n <= 10; ++n) list.push_back(random_gm(n, 20240 + static_cast<unsigned>(n)));
  return list;
}

// Output sink: counts the bytes and looks for messages that mean the row does
// not measure what it claims. Keeps a short tail so that a message split across
// two writes is still found.
struct Sink {
  long long bytes = 0;
  std::string tail;
  bool reader_message = false;
  bool memory_failure = false;
};

bool contains(const char* text, size_t length, const char* message) {
  return memmem(text, length, message, std::strlen(message)) != nullptr;
}

// Searches each write where it lies, plus a short seam joining the previous
// tail to the start of this write: copying every write into one window costs
// as much as a fast analysis.
ssize_t sink_write(void* cookie, const char* data, size_t size) {
  auto* sink = static_cast<Sink*>(cookie);
  sink->bytes += static_cast<long long>(size);
  static const char* const reader_messages[] = {
      "unrecognized element prefix", "exceeds limit", "please provide a port",
      "does not match the list", "must be less than 1000", "more than one port",
      "was truncated"};
  static const char* const memory_message = "insufficient memory";
  const std::string seam = sink->tail + std::string(data, size < 64 ? size : 64);
  for (const char* message : reader_messages) {
    if (contains(data, size, message) || contains(seam.data(), seam.size(), message)) {
      sink->reader_message = true;
    }
  }
  if (contains(data, size, memory_message) || contains(seam.data(), seam.size(), memory_message)) {
    sink->memory_failure = true;
  }
  sink->tail = size >= 64 ? std::string(data + size - 64, 64)
                          : seam.substr(seam.size() > 64 ? seam.size() - 64 : 0);
  return static_cast<ssize_t>(size);
}

struct Measurement {
  kavrel::RunStats stats;
  double seconds = 0;
  int runs = 0;
  Sink sink;
  long peak_kib = 0;  // largest resident set of one run
};

bool run_once(const Network& network, long long budget, bool plain, kavrel::RunStats& stats,
              Sink& sink, double& seconds) {
  FILE* in = fmemopen(const_cast<char*>(network.netlist.data()), network.netlist.size(), "r");
  cookie_io_functions_t functions{nullptr, sink_write, nullptr, nullptr};
  FILE* out = fopencookie(&sink, "w", functions);
  if (in == nullptr || out == nullptr) return false;
  stats = kavrel::RunStats{};
  stats.raw_tree_budget = budget;
  stats.exact_enumeration_only = plain;
  auto start = std::chrono::steady_clock::now();
  kavrel::run_kavrel(in, out, &stats);
  std::fflush(out);
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fclose(out);
  std::fclose(in);
  return true;
}

// What a child process reports about its one run.
struct RunReport {
  bool ok = false;
  kavrel::RunStats stats;
  double seconds = 0;
  long long bytes = 0;
  bool reader_message = false;
  bool memory_failure = false;
  long peak_kib = 0;
};

// Each run happens in a fresh child process, as when kavrel is started on one
// netlist: a heap already shaped by earlier large runs grows arrays by
// copying them where a fresh process remaps them, which would time the
// allocator's history rather than the analysis.
bool run_in_child(const Network& network, long long budget, bool plain, RunReport& report) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return false;
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    close(pipe_ends[0]);
    RunReport result;
    Sink sink;
    result.ok = run_once(network, budget, plain, result.stats, sink, result.seconds);
    result.bytes = sink.bytes;
    result.reader_message = sink.reader_message;
    result.memory_failure = sink.memory_failure;
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0) result.peak_kib = usage.ru_maxrss;
    const bool sent = write(pipe_ends[1], &result, sizeof result) == sizeof result;
    _exit(sent ? 0 : 1);
  }
  close(pipe_ends[1]);
  std::size_t received = 0;
  auto* bytes = reinterpret_cast<char*>(&report);
  while (received < sizeof report) {
    const ssize_t got = read(pipe_ends[0], bytes + received, sizeof report - received);
    if (got <= 0) break;
    received += static_cast<std::size_t>(got);
  }
  close(pipe_ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return received == sizeof report && WIFEXITED(status) && WEXITSTATUS(status) == 0 && report.ok;
}

bool measure(const Network& network, long long budget, bool plain, double min_time,
             Measurement& m) {
  double total = 0;
  do {
    RunReport report;
    if (!run_in_child(network, budget, plain, report)) return false;
    if (m.runs == 0) {
      m.stats = report.stats;
      m.sink.bytes = report.bytes;
      m.sink.reader_message = report.reader_message;
      m.sink.memory_failure = report.memory_failure;
    }
    if (report.peak_kib > m.peak_kib) m.peak_kib = report.peak_kib;
    total += report.seconds;
    ++m.runs;
  } while (total < min_time && m.runs < 1000000);
  m.seconds = total / m.runs;
  return true;
}

void usage() {
  std::printf(
      "usage: kavrel_benchmark [--max N] [--all] [--budget N] [--min-time S] [--plain] "
      "[--list] [--print] [filter]\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string filter;
  int max_size = 1 << 30;
  bool all = false, list_only = false, print_only = false, plain = false;
  long long budget = -1;  // per network
  double min_time = 0.2;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "--max" && has_value) {
      max_size = std::atoi(argv[++i]);
    } else if (arg == "--all") {
      all = true;
    } else if (arg == "--budget" && has_value) {
      budget = std::atoll(argv[++i]);
    } else if (arg == "--min-time" && has_value) {
      min_time = std::atof(argv[++i]);
    } else if (arg == "--plain") {
      plain = true;
    } else if (arg == "--list") {
      list_only = true;
    } else if (arg == "--print") {
      print_only = true;
    } else if (arg == "-h" || arg == "--help" || (!arg.empty() && arg[0] == '-')) {
      usage();
      return arg[0] == '-' && arg != "-h" && arg != "--help" ? 2 : 0;
    } else {
      filter = arg;
    }
  }

  std::vector<Network> networks = all_networks();
  bool exact = false;
  for (const Network& network : networks) exact = exact || network.name == filter;
  std::vector<Network> selected;
  for (Network& network : networks) {
    if (exact ? network.name != filter : network.name.find(filter) == std::string::npos) continue;
    if (network.size > max_size) continue;
    if (network.heavy && !all) continue;
    selected.push_back(std::move(network));
  }
  if (list_only || print_only) {
    for (const Network& network : selected) {
      if (print_only) {
        std::printf("{%s}\n%s", network.name.c_str(), network.netlist.c_str());
      } else {
        std::printf("%s\n", network.name.c_str());
      }
    }
    return 0;
  }

  std::printf("%-18s %-5s %14s %14s %12s %11s %14s %8s  %s\n", "network", "param",
              "raw i-trees", "common trees", "terms", "seconds", "raw trees/s", "peak MB", "note");
  std::fflush(stdout);
  double grand_total = 0;
  for (const Network& network : selected) {
    Measurement m;
    if (!measure(network, budget >= 0 ? budget : network.budget, plain, min_time, m)) {
      std::printf("%-18s cannot run the analysis in a child process\n", network.name.c_str());
      return 1;
    }
    grand_total += m.seconds * m.runs;
    std::string note;
    if (m.sink.reader_message) note += " reader-message";
    if (m.sink.memory_failure) note += " out-of-memory";
    if (m.stats.budget_exhausted) note += " budget-cut";
    if (m.runs > 1) note += entry(" mean-of-%d", m.runs);
    double rate = m.seconds > 0 ? static_cast<double>(m.stats.raw_i_trees) / m.seconds : 0.0;
    std::printf("%-18s %-5s %14lld %14lld %12lld %11.6f %14.0f %8.1f  %s\n", network.name.c_str(),
                network.param.c_str(), m.stats.raw_i_trees, m.stats.common_trees, m.stats.terms,
                m.seconds, rate, static_cast<double>(m.peak_kib) / 1024.0,
                note.empty() ? "" : note.c_str() + 1);
    std::fflush(stdout);
  }
  std::printf("%zu networks, %.1f s in analyses\n", selected.size(), grand_total);
  return 0;
}
