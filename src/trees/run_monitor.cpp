#include "trees/run_monitor.h"

#include <cerrno>
#include <cstring>

namespace kavrel {

namespace {

// "12 s", "3 min 20 s", "5 h 02 min", "41 days".
void format_duration(double seconds, char* buffer, std::size_t size) {
  if (!(seconds >= 0.0)) seconds = 0.0;
  if (seconds < 60.0) {
    std::snprintf(buffer, size, "%.0f s", seconds);
  } else if (seconds < 3600.0) {
    const long total = static_cast<long>(seconds);
    std::snprintf(buffer, size, "%ld min %02ld s", total / 60, total % 60);
  } else if (seconds < 86400.0 * 2) {
    const long total = static_cast<long>(seconds / 60.0);
    std::snprintf(buffer, size, "%ld h %02ld min", total / 60, total % 60);
  } else if (seconds < 86400.0 * 365.0 * 2) {
    std::snprintf(buffer, size, "%.0f days", seconds / 86400.0);
  } else {
    std::snprintf(buffer, size, "%.3g years", seconds / (86400.0 * 365.25));
  }
}

}  // namespace

bool RunMonitor::output_failed() {
  if (cancelled_ != nullptr) {
    if (cancelled_->load(std::memory_order_relaxed)) stopped_ = true;
    return stopped_;
  }
  if (!stopped_ && std::ferror(out_) != 0) {
    stopped_ = true;
    failure_errno_ = errno;
  }
  return stopped_;
}

bool RunMonitor::check_now() {
  if (cancelled_ != nullptr) return output_failed();
  if (output_failed()) {
    clear_progress();
    return true;
  }
  if (seconds_since(last_flush_) >= kFlushInterval) {
    errno = 0;
    if (std::fflush(out_) != 0 || std::ferror(out_) != 0) {
      stopped_ = true;
      failure_errno_ = errno;
      clear_progress();
      return true;
    }
    last_flush_ = Clock::now();
  }
  if (enumerating_ && progress_ != nullptr) {
    const double running = seconds_since(enumeration_start_);
    if (running >= kProgressDelay && (!drawn_ || seconds_since(last_draw_) >= kProgressInterval)) {
      draw_progress();
    }
  }
  return false;
}

void RunMonitor::begin_enumeration(const char* function, const EdgeLists& lists, int nodes,
                                   bool pruned) {
  function_ = function;
  pruned_ = pruned;
  raw_trees_ = 0;
  enumerating_ = true;
  drawn_ = false;
  enumeration_start_ = Clock::now();
  // The count is only shown, so it is only worth its small determinant when
  // there is somewhere to show it.
  total_ = progress_ != nullptr ? count_raw_i_trees(lists, nodes) : TreeCount{};
}

void RunMonitor::end_enumeration() {
  enumerating_ = false;
  clear_progress();
}

void RunMonitor::draw_progress() {
  char total[48];
  format_tree_count(total_, total, sizeof total);
  const double elapsed = seconds_since(enumeration_start_);
  char elapsed_text[32];
  format_duration(elapsed, elapsed_text, sizeof elapsed_text);
  char remaining_text[48] = "";
  if (raw_trees_ > 0 && !total_.exceeded) {
    const long double done = static_cast<long double>(raw_trees_);
    const long double all = static_cast<long double>(total_.value);
    const long double rest = all > done ? all - done : 0.0L;
    char duration[32];
    format_duration(static_cast<double>(elapsed * rest / done), duration, sizeof duration);
    std::snprintf(remaining_text, sizeof remaining_text, ", %s %s left",
                  pruned_ ? "at most" : "about", duration);
  }
  char line[256];
  const int length =
      std::snprintf(line, sizeof line, "kavrel: %s (%s): %lld of %s raw i-trees, %s%s",
                    parameter_, function_, raw_trees_, total, elapsed_text, remaining_text);
  const int shown = length < 0 ? 0 : (length < static_cast<int>(sizeof line) ? length : static_cast<int>(sizeof line) - 1);
  // Blanks over what a longer previous line left.
  const int padding = drawn_length_ > shown ? drawn_length_ - shown : 0;
  std::fprintf(progress_, "\r%s%*s", line, padding, "");
  std::fflush(progress_);
  drawn_ = true;
  drawn_length_ = shown;
  last_draw_ = Clock::now();
}

void RunMonitor::clear_progress() {
  if (!drawn_ || progress_ == nullptr) return;
  std::fprintf(progress_, "\r%*s\r", drawn_length_, "");
  std::fflush(progress_);
  drawn_ = false;
  drawn_length_ = 0;
}

}  // namespace kavrel
