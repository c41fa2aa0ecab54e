#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>

#include "trees/enumeration.h"
#include "trees/run_stats.h"
#include "trees/tree_count.h"

namespace kavrel {

// Watches one run from inside its long loops. It pushes buffered output out
// now and then, so that output that cannot be written (a full device, a pipe
// whose reader has gone) is noticed soon after it was produced and ends the
// run instead of the run computing on for nothing; and, when given a
// progress stream (a terminal), it draws a progress line there during long
// enumerations. Standard output is never touched but by flushing.
class RunMonitor {
 public:
  static constexpr double kFlushInterval = 0.2;      // seconds
  static constexpr double kProgressDelay = 1.0;      // before the first progress line
  static constexpr double kProgressInterval = 0.25;  // between redraws

  RunMonitor(FILE* out, FILE* progress) : out_(out), progress_(progress) {}
  // For an evaluation on a worker thread: touches no stream and stops once
  // `cancelled` is set by the thread that owns the run's monitor.
  explicit RunMonitor(const std::atomic<bool>* cancelled)
      : out_(nullptr), progress_(nullptr), cancelled_(cancelled) {}
  RunMonitor(const RunMonitor&) = delete;
  RunMonitor& operator=(const RunMonitor&) = delete;

  // True once output failed: everything after is lost, so the run ends.
  bool stopped() const { return stopped_; }
  // The errno of the failed write, 0 when unknown.
  int failure_errno() const { return failure_errno_; }

  // Cheap enough to be called often: looks at the clock only every so many
  // calls. Flushes when due; returns stopped().
  bool poll() {
    if (stopped_) return true;
    if (++polls_ < kPollsPerClockRead) return false;
    polls_ = 0;
    return check_now();
  }
  // Flushes if due (and redraws progress); returns stopped().
  bool check_now();
  // Records the state of the output stream without waiting for a flush.
  bool output_failed();

  // Whether progress is drawn anywhere.
  bool draws_progress() const { return progress_ != nullptr; }

  // The parameter whose functions are requested next, for the progress line.
  void set_parameter(const char* name) { parameter_ = name; }

  // One enumeration: its function's name, its raw i-trees counted up front
  // when there is a progress display, and whether pruning skips raw trees
  // (the estimate of what remains is then an upper bound).
  void begin_enumeration(const char* function, const EdgeLists& lists, int nodes, bool pruned);
  void set_raw_trees(long long raw_trees) { raw_trees_ = raw_trees; }
  void end_enumeration();
  // The exact raw i-tree count of the latest enumeration (counted only when
  // there is a progress stream).
  const TreeCount& enumeration_total() const { return total_; }

 private:
  static constexpr int kPollsPerClockRead = 4096;
  using Clock = std::chrono::steady_clock;

  double seconds_since(Clock::time_point then) const {
    return std::chrono::duration<double>(Clock::now() - then).count();
  }
  void draw_progress();
  void clear_progress();

  FILE* out_;
  FILE* progress_;
  const std::atomic<bool>* cancelled_ = nullptr;
  bool stopped_ = false;
  int failure_errno_ = 0;
  int polls_ = 0;
  Clock::time_point last_flush_ = Clock::now();

  const char* parameter_ = "";
  const char* function_ = "";
  bool enumerating_ = false;
  bool pruned_ = false;
  TreeCount total_;
  long long raw_trees_ = 0;
  Clock::time_point enumeration_start_;
  Clock::time_point last_draw_;
  bool drawn_ = false;
  int drawn_length_ = 0;
};

// For the stages that hold the run's counters: whether the run is to end,
// and the parameter being worked on.
inline bool run_stopped(const RunStats* stats) {
  return stats != nullptr && stats->monitor != nullptr && stats->monitor->check_now();
}
inline void note_parameter(RunStats* stats, const char* name) {
  if (stats != nullptr && stats->monitor != nullptr) stats->monitor->set_parameter(name);
}

}  // namespace kavrel
