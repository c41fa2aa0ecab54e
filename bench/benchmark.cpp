// Times whole analyses of generated networks, each run in a fresh child
// process calling the library with its output going to a file, and prints one
// table row per network: tree and term counts from RunStats, the rate of raw
// i-trees per second, the processor time of the run (user and system: the
// wall-clock seconds of a shared machine vary with its load), the peak
// resident memory of a run, the bytes written,
// the time the same bytes take to pass through a pipe to a reader that
// discards them (measured in the same child, after the run) and the ratio of
// the two times. Not a test: it checks nothing beyond reporting a reader
// message or a memory failure in the row's note.
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
//     --threads N     threads of a run (default 0: one per processor core)
//     --plain         enumerate every raw i-tree (no common-tree pruning), so the
//                     raw i-tree column and rate are those of the full enumeration
//     --targets       only the networks with performance targets
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

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
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
  bool target = false;   // one of the networks with a performance target
};

// The parameter entries of a netlist: "all" selects every parameter, which is
// what a netlist without p entries asks for.
std::string parameter_entries(const std::string& param) {
  return param == "all" ? std::string() : "p " + param + "\n";
}

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
  return {entry("rc_ladder_%d", sections), "z21", sections, sections > 14 && sections != 16, text,
          0, sections == 16};
}

// Unity-gain Sallen-Key lowpass sections in cascade, each section's output
// driving the next one's input. Per section (input a, output b, inner nodes m
// and n): r a m; r m n; c b m; c n 0; and the amplifier from n to b, either a
// controlled source u or an ideal op amp o wired as a voltage follower.
Network sallen_key_cascade(int sections, bool ideal_opamp, const std::string& param = "g21") {
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
  text += entry("f 1 0 %d 0\n", input) + parameter_entries(param) + "end\n";
  std::string name = entry(ideal_opamp ? "sallen_key_o_%d" : "sallen_key_u_%d", sections);
  if (param != "g21") name += "_" + param;
  return {name, param, sections, false, text, 0,
          sections == 6 && (ideal_opamp ? param == "all" : param == "g21")};
}

// side x side nodes, a resistor between horizontal and vertical neighbours.
// Port 1 at the top-left corner, port 2 at the opposite (bottom-right) corner,
// both against the bottom-left corner.
Network resistor_grid(int side, const std::string& param = "z21") {
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
  text += entry("f %d %d %d %d\n", label(0, 0), bottom_left, label(side - 1, side - 1),
                bottom_left) +
          parameter_entries(param) + "end\n";
  std::string name = entry("grid_%dx%d", side, side);
  if (param != "z21") name += "_" + param;
  return {name, param, side, side > 4, text, side > 4 ? 300000 : 0, side == 4};
}

// A connected random network of conductances, capacitors and transconductances.
// The generator's raw output (not a distribution object) makes the networks
// the same with every standard library.
Network random_gm(int elements, unsigned seed, int node_count = 0, bool target = false) {
  std::mt19937 rng(seed);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  // labels 0 .. nodes-1; ports at 1 and 2 against 0
  int nodes = node_count > 0 ? node_count : 3 + elements / 3;
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
  return {entry("random_gm_%d", elements), "y21", elements, false, text, 0, target};
}

std::vector<Network> all_networks() {
  std::vector<Network> list;
  for (int n = 1; n <= 16; ++n) list.push_back(rc_ladder(n));
  for (int n = 1; n <= 6; ++n) list.push_back(sallen_key_cascade(n, false));
  for (int n = 1; n <= 6; ++n) list.push_back(sallen_key_cascade(n, true));
  for (int n = 2; n <= 5; ++n) list.push_back(resistor_grid(n));
  for (int n = 6; n <= 10; ++n) list.push_back(random_gm(n, 20240 + static_cast<unsigned>(n)));
  // 12 nodes, 31 elements: about 0.93 million raw i-trees in the full enumeration.
  Network dense_gm = random_gm(31, 20241, 12, true);
  dense_gm.name = "random_gm_12n";
  list.push_back(dense_gm);
  list.push_back(resistor_grid(4, "all"));
  list.push_back(sallen_key_cascade(6, true, "all"));
  return list;
}

bool contains(const char* text, size_t length, const char* message) {
  return memmem(text, length, message, std::strlen(message)) != nullptr;
}

// What the output says about the row, looked for after the run so that the
// search costs the timed analysis nothing.
struct OutputCheck {
  bool reader_message = false;
  bool memory_failure = false;
};

OutputCheck check_output(const char* text, size_t length) {
  static const char* const reader_messages[] = {
      "unrecognized element prefix", "exceeds limit", "please provide a port",
      "does not match the list", "must be less than 1000", "more than one port",
      "was truncated"};
  OutputCheck check;
  for (const char* message : reader_messages) {
    if (contains(text, length, message)) check.reader_message = true;
  }
  check.memory_failure = contains(text, length, "insufficient memory");
  return check;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The floor under any program that prints `length` bytes: the time to push
// them through a pipe, in 64 KiB writes, to a child that reads and discards
// them. Negative when the pipe or the child could not be had.
double pipe_seconds(const char* text, size_t length) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return -1;
  const pid_t reader = fork();
  if (reader < 0) return -1;
  if (reader == 0) {
    close(pipe_ends[1]);
    static char discard[1 << 16];
    while (read(pipe_ends[0], discard, sizeof discard) > 0) {
    }
    _exit(0);
  }
  close(pipe_ends[0]);
  const auto start = std::chrono::steady_clock::now();
  size_t written = 0;
  bool failed = false;
  while (written < length) {
    const size_t chunk = length - written < (1u << 16) ? length - written : (1u << 16);
    const ssize_t done = write(pipe_ends[1], text + written, chunk);
    if (done <= 0) {
      failed = true;
      break;
    }
    written += static_cast<size_t>(done);
  }
  close(pipe_ends[1]);
  int status = 0;
  waitpid(reader, &status, 0);
  const double seconds = seconds_since(start);
  return failed ? -1 : seconds;
}

// What a child process reports about its one run.
struct RunReport {
  bool ok = false;
  kavrel::RunStats stats;
  double seconds = 0;
  double cpu_seconds = 0;  // user and system time of the run
  double pipe_seconds = -1;
  long long bytes = 0;
  bool reader_message = false;
  bool memory_failure = false;
  long peak_kib = 0;
};

double cpu_seconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int run_threads = 0;

// The run itself, with stdout-like output to a fresh file, as in
// kavrel <netlist >file. Afterwards the file is mapped to search it and to
// time the same bytes through a pipe; the peak memory is taken before that.
void run_once(const Network& network, long long budget, bool plain, RunReport& report) {
  FILE* in = fmemopen(const_cast<char*>(network.netlist.data()), network.netlist.size(), "r");
  char path[] = "/tmp/kavrel_benchmark_XXXXXX";
  const int fd = mkstemp(path);
  if (in == nullptr || fd < 0) return;
  unlink(path);
  FILE* out = fdopen(fd, "w");
  if (out == nullptr) return;
  report.stats.raw_tree_budget = budget;
  report.stats.exact_enumeration_only = plain;
  report.stats.threads = run_threads;
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  const auto start = std::chrono::steady_clock::now();
  kavrel::run_kavrel(in, out, &report.stats);
  const bool flushed = std::fflush(out) == 0;
  report.seconds = seconds_since(start);
  std::fclose(in);
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) == 0) {
    report.peak_kib = usage.ru_maxrss;
    report.cpu_seconds = cpu_seconds(usage) - cpu_seconds(before);
  }
  struct stat status {};
  const int view = dup(fd);
  std::fclose(out);
  if (!flushed || view < 0 || fstat(view, &status) != 0) return;
  report.bytes = status.st_size;
  if (report.bytes > 0) {
    void* text = mmap(nullptr, static_cast<size_t>(report.bytes), PROT_READ,
                      MAP_PRIVATE | MAP_POPULATE, view, 0);
    if (text == MAP_FAILED) return;
    const OutputCheck check = check_output(static_cast<const char*>(text), report.bytes);
    report.reader_message = check.reader_message;
    report.memory_failure = check.memory_failure;
    report.pipe_seconds = pipe_seconds(static_cast<const char*>(text), report.bytes);
    munmap(text, static_cast<size_t>(report.bytes));
  }
  close(view);
  report.ok = true;
}

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
    run_once(network, budget, plain, result);
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

struct Measurement {
  kavrel::RunStats stats;
  double seconds = 0;
  double cpu_seconds = 0;
  double pipe_seconds = 0;  // mean over the runs; negative when not measured
  int runs = 0;
  long long bytes = 0;
  OutputCheck check;
  long peak_kib = 0;  // largest resident set of one run
};

bool measure(const Network& network, long long budget, bool plain, double min_time,
             Measurement& m) {
  double total = 0;
  double cpu_total = 0;
  double pipe_total = 0;
  bool pipe_measured = true;
  do {
    RunReport report;
    if (!run_in_child(network, budget, plain, report)) return false;
    if (m.runs == 0) {
      m.stats = report.stats;
      m.bytes = report.bytes;
      m.check.reader_message = report.reader_message;
      m.check.memory_failure = report.memory_failure;
    }
    if (report.peak_kib > m.peak_kib) m.peak_kib = report.peak_kib;
    total += report.seconds;
    cpu_total += report.cpu_seconds;
    if (report.pipe_seconds < 0) pipe_measured = false;
    pipe_total += report.pipe_seconds;
    ++m.runs;
  } while (total < min_time && m.runs < 1000000);
  m.seconds = total / m.runs;
  m.cpu_seconds = cpu_total / m.runs;
  m.pipe_seconds = pipe_measured ? pipe_total / m.runs : -1;
  return true;
}

void usage() {
  std::printf(
      "usage: kavrel_benchmark [--max N] [--all] [--budget N] [--min-time S] [--threads N] [--plain] "
      "[--targets] [--list] [--print] [filter]\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string filter;
  int max_size = 1 << 30;
  bool all = false, list_only = false, print_only = false, plain = false, targets = false;
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
    } else if (arg == "--threads" && has_value) {
      run_threads = std::atoi(argv[++i]);
    } else if (arg == "--plain") {
      plain = true;
    } else if (arg == "--targets") {
      targets = true;
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
    if (targets ? !network.target : network.heavy && !all) continue;
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

  std::printf("%-18s %-5s %12s %12s %10s %9s %9s %12s %8s %12s %9s %6s  %s\n", "network",
              "param", "raw i-trees", "common trees", "terms", "seconds", "cpu s", "raw trees/s",
              "peak MB", "bytes", "pipe s", "ratio", "note");
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
    if (m.check.reader_message) note += " reader-message";
    if (m.check.memory_failure) note += " out-of-memory";
    if (m.stats.budget_exhausted) note += " budget-cut";
    if (m.runs > 1) note += entry(" mean-of-%d", m.runs);
    double rate = m.seconds > 0 ? static_cast<double>(m.stats.raw_i_trees) / m.seconds : 0.0;
    const std::string ratio =
        m.pipe_seconds > 0 ? entry("%.1f", m.seconds / m.pipe_seconds) : std::string("-");
    std::printf("%-18s %-5s %12lld %12lld %10lld %9.4f %9.4f %12.0f %8.1f %12lld %9.4f %6s  %s\n",
                network.name.c_str(), network.param.c_str(), m.stats.raw_i_trees,
                m.stats.common_trees, m.stats.terms, m.seconds, m.cpu_seconds, rate,
                static_cast<double>(m.peak_kib) / 1024.0, m.bytes, m.pipe_seconds, ratio.c_str(),
                note.empty() ? "" : note.c_str() + 1);
    std::fflush(stdout);
  }
  std::printf("%zu networks, %.1f s in analyses\n", selected.size(), grand_total);
  return 0;
}
