#include "trees/shared_enumeration.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "trees/kept_threads.h"
#include "trees/memory.h"
#include "trees/run_monitor.h"
#include "trees/term_index.h"
#include "trees/thread_count.h"
#include "trees/tree_count.h"
#include "trees/tree_enumerator.h"
#include "trees/tree_terms.h"

namespace kavrel {

namespace {

// Trees filed on the calling thread before the rest is shared out: smaller
// functions gain less than threads cost.
constexpr long long kDefaultTreesBeforeSharing = 1 << 16;
// Runs of consecutive points enumerated as one: enough that the
// threads stay busy to the end, few enough that handing them over stays cheap.
constexpr int kBatchesPerThread = 32;
constexpr long long kTreesPerBatch = 1 << 18;
constexpr int kMaxBatches = 1 << 16;
// Batches taken beyond the merged ones: their stores wait to be merged.
constexpr int kBatchesInFlightPerThread = 2;

constexpr std::chrono::milliseconds kWatchInterval{50};
// A batch's row buffer starts with room for more rows than most batches
// hold: its pages only count once written, while a buffer that grows copies
// its rows onto fresh pages at every step, and fresh pages cost a fault each.
constexpr std::size_t kFirstBufferUnits = std::size_t{1} << 22;

// The common trees of a batch as rows of the function's store (coefficient
// the tree's sign), with their powers of s; for each power, whether a row
// does not come after the one before it of that power. Batches of different
// threads lie side by side: each starts a cache line of its own.
struct alignas(64) Batch {
  int first_point = 0;
  int end_point = 0;
  std::vector<Exponent> rows;
  std::vector<int8_t> powers;
  bool unordered[kPowerBuckets] = {};
  int last_of_power[kPowerBuckets] = {};
  long long raw_trees = 0;
  long long common_trees = 0;
  std::atomic<bool> done{false};
};

// The batches to cut the rest of the search into: enough for the threads to
// end together, and enough that a batch holds at most so many trees waiting
// to be merged.
int batches_for(const EdgeLists& lists, int nodes, int threads) {
  const long long least = static_cast<long long>(threads) * kBatchesPerThread;
  const TreeCount count = count_raw_i_trees(lists, nodes);
  if (count.exceeded) return kMaxBatches;
  const unsigned __int128 by_trees = count.value / kTreesPerBatch;
  if (by_trees <= static_cast<unsigned __int128>(least)) return static_cast<int>(least);
  return by_trees >= kMaxBatches ? kMaxBatches : static_cast<int>(by_trees);
}

// The merged store's room for its rows, faulted in ahead of the merging
// thread by threads that would otherwise wait for it: the merging thread,
// which copies every row into the store, is what holds the others up, and
// the first touch of a page costs it more than the copy. Only room for rows
// that will be written (those of the batches enumerated) is faulted in, so
// the peak stays where it was; and only inside the room reserved for the
// function, where the rows never move.
class RoomAhead {
 public:
  // Before the threads start; the room stays shut unless every row of the
  // batches is appended to the store.
  void open(const TermStore& store, bool rows_appended) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!rows_appended || store.termlist == nullptr || store.term_capacity < 1) return;
    // Filing the row before the last of the capacity grows the store.
    long long fixed = store.term_capacity;
    while (doubles_in_place(store, fixed)) fixed *= 2;
    if (fixed < 2) return;
    row_bytes_ = store.row_bytes();
    room_ = reinterpret_cast<char*>(store.termlist);
    room_bytes_ = static_cast<std::size_t>(fixed - 2) * row_bytes_;
    const auto used = static_cast<std::size_t>(std::max(store.terms_used, 0));
    faulted_bytes_ = used * row_bytes_;
    rows_coming_.store(used);
  }

  // A batch was enumerated: its rows will be written.
  void add_rows(std::size_t rows) { rows_coming_.fetch_add(rows, std::memory_order_relaxed); }

  // Faults in the next stretch of the room that rows will be written to, up
  // to the next large page; false when there is none.
  bool fault_in_some() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (room_ == nullptr) return false;
    const std::size_t coming =
        std::min(room_bytes_, rows_coming_.load(std::memory_order_relaxed) * row_bytes_);
    if (faulted_bytes_ >= coming) return false;
    const auto start = reinterpret_cast<std::uintptr_t>(room_) + faulted_bytes_;
    const std::uintptr_t boundary = (start / kLargePageBytes + 1) * kLargePageBytes;
    const std::size_t bytes = std::min<std::size_t>(boundary - start, coming - faulted_bytes_);
    populate_for_writing(room_ + faulted_bytes_, bytes);
    faulted_bytes_ += bytes;
    return true;
  }

  // By the merging thread before it files rows that would end `rows_after`
  // rows in: shuts the room for good where the store might grow and move.
  void shut_unless_room_for(std::size_t rows_after) {
    if (rows_after * row_bytes_ <= room_bytes_) return;
    const std::lock_guard<std::mutex> lock(mutex_);
    room_ = nullptr;
  }

 private:
  static constexpr std::uintptr_t kLargePageBytes = std::uintptr_t{2} << 20;

  std::mutex mutex_;
  char* room_ = nullptr;  // nullptr: shut
  std::size_t room_bytes_ = 0;
  std::size_t row_bytes_ = 0;
  std::size_t faulted_bytes_ = 0;
  std::atomic<std::size_t> rows_coming_{0};
};

class Sharing {
 public:
  Sharing(const EdgeLists& lists, const QualificationSettings& qualification,
          const EnumerationPolicy& policy, const TermContext& context, const NetworkTables& net,
          const TermStore& shape)
      : lists_(lists),
        qualification_(qualification),
        policy_(policy),
        context_(context),
        net_(net),
        name_slots_(shape.name_slots),
        coefficient_offset_(shape.coefficient_offset()),
        row_units_(static_cast<std::size_t>(shape.row_units())) {}

  // The points of the search below `roots`, in its order; false when the
  // search was abandoned. The last root, the alternative decided first, holds
  // the most trees: the cut goes deeper until it alone gives two points per
  // batch; the other roots are cut at the same number of free edges.
  bool cut(const std::vector<EnumerationPoint>& roots, RunMonitor* monitor, int batches) {
    if (roots.empty()) return true;
    const std::size_t enough = 2 * static_cast<std::size_t>(batches);
    TreeEnumerator first(lists_, qualification_, LLONG_MAX, policy_.pruning, nullptr);
    first.resume_at(roots.back());
    for (int depth = first.free_edges_taken() + 1;; ++depth) {
      points_.clear();
      raw_trees_above_points_ = 0;
      bool any_cut = false;
      std::size_t points_of_last = 0;
      for (const EnumerationPoint& root : roots) {
        points_of_last = points_.size();
        TreeEnumerator splitter(lists_, qualification_, LLONG_MAX, policy_.pruning, monitor);
        splitter.resume_at(root);
        splitter.cut_at_depth(depth);
        for (splitter.next_tree();; splitter.next_tree()) {
          if (splitter.enum_state == EnumState::kCut) {
            points_.push_back(splitter.cut_point());
            any_cut = true;
          } else if (splitter.enum_state == EnumState::kTreeReady) {
            points_.push_back(splitter.point_here());
          } else {
            break;
          }
        }
        if (splitter.abandoned) return false;
        raw_trees_above_points_ += splitter.raw_tree_count;
      }
      if (!any_cut || points_.size() - points_of_last >= enough) return true;
    }
  }

  bool share(int threads, int batches, RunMonitor* monitor, const RunStats* stats,
             TermStore& merged, SharedEnumeration& counts) {
    const int point_count = static_cast<int>(points_.size());
    const int batch_count = batches < point_count ? batches : point_count;
    if (batch_count == 0) {
      counts.raw_trees = raw_trees_above_points_;
      return true;
    }
    batches_ = std::make_unique<Batch[]>(static_cast<std::size_t>(batch_count));
    batch_count_ = batch_count;
    window_ = threads * kBatchesInFlightPerThread;
    for (int b = 0; b < batch_count; ++b) {
      batches_[b].first_point =
          static_cast<int>(static_cast<long long>(point_count) * b / batch_count);
      batches_[b].end_point =
          static_cast<int>(static_cast<long long>(point_count) * (b + 1) / batch_count);
    }

    merged_ = &merged;
    const TermIndex* index = context_.index;
    room_ahead_.open(merged, index != nullptr && index->in_use() && !index->finds_terms());

    std::vector<KeptThread> workers;
    try {
      workers.reserve(static_cast<std::size_t>(threads - 1));
      while (static_cast<int>(workers.size()) < threads - 1) {
        workers.emplace_back([this] {
          RunMonitor watcher(&cancelled_);
          work(&watcher, nullptr);
        });
      }
    } catch (...) {
      // Fewer threads share the batches.
    }
    work(monitor, stats);
    for (KeptThread& worker : workers) worker.join();
    if (cancelled_.load() || merged_batches_ != batch_count) return false;
    counts.raw_trees = raw_trees_above_points_ + merged_raw_trees_;
    counts.common_trees = merged_common_trees_;
    return true;
  }

 private:
  // Takes batch after batch, no further ahead of the merged ones than the
  // window, and merges what is complete in order after each. `stats` is
  // given on the thread that owns the run's monitor only.
  void work(RunMonitor* monitor, const RunStats* stats) {
    try {
      take_and_merge(monitor, stats);
    } catch (...) {
      cancelled_.store(true);
      batch_finished_.notify_all();
    }
  }

  void take_and_merge(RunMonitor* monitor, const RunStats* stats) {
    for (;;) {
      int b = -1;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!cancelled_.load() && next_batch_ < batch_count_ &&
               next_batch_ >= merged_batches_ + window_) {
          lock.unlock();
          const bool faulted_in = room_ahead_.fault_in_some();
          lock.lock();
          if (!faulted_in) batch_finished_.wait_for(lock, kWatchInterval);
          if (stats != nullptr && run_stopped(stats)) cancelled_.store(true);
        }
        if (cancelled_.load() || next_batch_ >= batch_count_) return;
        b = next_batch_++;
      }
      Batch& batch = batches_[b];
      bool complete = false;
      try {
        complete = enumerate_batch(batch, monitor);
      } catch (...) {
        complete = false;
      }
      if (!complete) {
        give_back(batch);
        cancelled_.store(true);
        batch_finished_.notify_all();
        return;
      }
      room_ahead_.add_rows(batch.powers.size());
      batch.done.store(true, std::memory_order_release);
      merge_in_order();
    }
  }

  // A thread that finds another merging leaves its batch to that one and
  // goes on enumerating: the merging thread looks for done batches again
  // after it stops merging whenever a batch was finished meanwhile.
  void merge_in_order() {
    merge_requests_.fetch_add(1);
    for (;;) {
      bool idle = false;
      if (!merging_.compare_exchange_strong(idle, true)) break;
      // Taking the requests (not just clearing them) makes the batches
      // finished before them visible here.
      merge_requests_.exchange(0);
      merge_done_batches();
      merging_.store(false);
      batch_finished_.notify_all();
      if (merge_requests_.load() == 0) break;
    }
  }

  // The caller is the one merging thread.
  void merge_done_batches() {
    for (int b = merged_batches_.load(); b < batch_count_; ++b) {
      Batch& batch = batches_[b];
      if (!batch.done.load(std::memory_order_acquire)) break;
      room_ahead_.shut_unless_room_for(static_cast<std::size_t>(merged_->terms_used) +
                                       batch.powers.size());
      if (!file_trees(batch)) {
        cancelled_.store(true);
        break;
      }
      merged_raw_trees_ += batch.raw_trees;
      merged_common_trees_ += batch.common_trees;
      give_back(batch);
      const std::lock_guard<std::mutex> lock(mutex_);
      merged_batches_.store(b + 1);
    }
  }

  // Buffers are handed on from merged batches to new ones, so that their
  // pages are touched once. A batch's two buffers go as one spare: a spare
  // list that cannot grow keeps none of them rather than one without the other.
  void give_back(Batch& batch) {
    batch.rows.clear();
    batch.powers.clear();
    const std::lock_guard<std::mutex> lock(spare_mutex_);
    spares_.push_back(SpareBuffers{std::move(batch.rows), std::move(batch.powers)});
  }
  void take_spare(Batch& batch) {
    const std::lock_guard<std::mutex> lock(spare_mutex_);
    if (spares_.empty()) return;
    batch.rows = std::move(spares_.back().rows);
    batch.powers = std::move(spares_.back().powers);
    spares_.pop_back();
  }

  bool enumerate_batch(Batch& batch, RunMonitor* monitor) {
    take_spare(batch);
    for (int& last : batch.last_of_power) last = -1;
    TreeEnumerator enumerator(lists_, qualification_, LLONG_MAX, policy_.pruning, monitor);
    TreeSigner signer(net_, lists_, qualification_.nodes, policy_.all_signs_plus, context_.out);
    TreeTerm term;
    for (int p = batch.first_point; p < batch.end_point; ++p) {
      enumerator.resume_at(points_[static_cast<std::size_t>(p)]);
      if (enumerator.enum_state != EnumState::kTreeReady) enumerator.next_tree();
      for (; enumerator.enum_state == EnumState::kTreeReady; enumerator.next_tree()) {
        ++batch.common_trees;
        const TreeEdgeList& tree = enumerator.tree();
        const int sign =
            policy_.pruning.incremental_sign ? enumerator.tree_sign() : signer.sign(tree);
        derive_term(lists_, tree, term);
        if (!record_tree(batch, sign, term)) return false;
      }
      if (enumerator.abandoned) return false;
    }
    batch.raw_trees = enumerator.raw_tree_count;
    return true;
  }

  // False where add_term would refuse the tree.
  bool record_tree(Batch& batch, int sign, const TreeTerm& term) const {
    if (term.power < 0 || term.power >= kPowerBuckets || term.count > kMaxTermEdges) return false;
    const std::size_t index = batch.powers.size();
    const std::size_t at = index * row_units_;
    if (at + row_units_ > batch.rows.capacity()) {
      batch.rows.reserve(std::max(2 * batch.rows.capacity(), kFirstBufferUnits));
      batch.powers.reserve(batch.rows.capacity() / row_units_);
    }
    batch.rows.resize(at + row_units_);
    Exponent* row = batch.rows.data() + at;
    for (int k = 0; k < term.count; ++k) {
      const int32_t name = context_.dbranchmap[term.admittance_edges[k]];
      if (name < 0 || name >= name_slots_) return false;
      ++row[name];
    }
    const int32_t coefficient = sign;
    std::memcpy(row + coefficient_offset_, &coefficient, sizeof coefficient);
    batch.powers.push_back(static_cast<int8_t>(term.power));
    int& last = batch.last_of_power[term.power];
    if (last >= 0 && !batch.unordered[term.power] &&
        !TermIndex::in_column_order(batch.rows.data() + static_cast<std::size_t>(last) * row_units_,
                                    row, name_slots_)) {
      batch.unordered[term.power] = true;
    }
    last = static_cast<int>(index);
    return true;
  }

  // Files a batch's trees into the merged store; the caller is the merging
  // thread.
  bool file_trees(const Batch& batch) {
    const int count = static_cast<int>(batch.powers.size());
    const TermIndex* index = context_.index;
    if (index != nullptr && index->in_use() && !index->finds_terms()) {
      return append_new_rows(*merged_, batch.rows.data(), batch.powers.data(), count,
                             batch.unordered, context_) == 0;
    }
    for (int i = 0; i < count; ++i) {
      const Exponent* row = batch.rows.data() + static_cast<std::size_t>(i) * row_units_;
      int32_t sign = 0;
      std::memcpy(&sign, row + coefficient_offset_, sizeof sign);
      if (add_term_exponents(sign, batch.powers[static_cast<std::size_t>(i)], row, *merged_,
                             context_) != 0) {
        return false;
      }
    }
    return true;
  }

  const EdgeLists& lists_;
  const QualificationSettings& qualification_;
  const EnumerationPolicy& policy_;
  const TermContext& context_;
  const NetworkTables& net_;
  const int name_slots_;
  const int coefficient_offset_;
  const std::size_t row_units_;

  std::vector<EnumerationPoint> points_;
  long long raw_trees_above_points_ = 0;
  std::unique_ptr<Batch[]> batches_;
  int batch_count_ = 0;
  int window_ = 1;
  TermStore* merged_ = nullptr;
  RoomAhead room_ahead_;
  std::atomic<bool> cancelled_{false};
  // Under mutex_: the next batch to take; merged_batches_ is written under
  // both mutexes.
  std::mutex mutex_;
  std::condition_variable batch_finished_;
  int next_batch_ = 0;
  std::atomic<int> merged_batches_{0};
  // Who merges: one thread at a time, holding merging_ (sequentially
  // consistent, so that a request made while another merges is seen by it
  // once it has stopped).
  std::atomic<bool> merging_{false};
  std::atomic<int> merge_requests_{0};
  std::mutex spare_mutex_;

  struct SpareBuffers {
    std::vector<Exponent> rows;
    std::vector<int8_t> powers;
  };
  std::vector<SpareBuffers> spares_;
  long long merged_raw_trees_ = 0;  // the merging thread's, as is the merged store
  long long merged_common_trees_ = 0;
};

}  // namespace

long long trees_before_sharing(const NetworkTables& net, const EnumerationPolicy& policy,
                               const RunStats* stats) {
  if (!policy.index_terms || !threads_may_start(net, stats)) return -1;
  return stats != nullptr && stats->trees_before_sharing > 0 ? stats->trees_before_sharing
                                                             : kDefaultTreesBeforeSharing;
}

bool share_rest(const TreeEnumerator& enumerator, const EdgeLists& lists,
                const QualificationSettings& qualification, const EnumerationPolicy& policy,
                const TermContext& context, const NetworkTables& net, RunStats* stats,
                TermStore& store, SharedEnumeration& counts) {
  counts = SharedEnumeration{};
  RunMonitor* const run_monitor = stats != nullptr ? stats->monitor : nullptr;
  const std::atomic<bool> never{false};
  RunMonitor watcher(&never);
  RunMonitor* const monitor = run_monitor != nullptr ? run_monitor : &watcher;
  try {
    std::vector<EnumerationPoint> roots;
    roots.reserve(static_cast<std::size_t>(enumerator.pending_count()));
    for (int i = 0; i < enumerator.pending_count(); ++i) {
      roots.push_back(enumerator.pending_point(i));
    }
    const int threads = usable_threads(stats);
    const int batches = batches_for(lists, qualification.nodes, threads);
    Sharing sharing(lists, qualification, policy, context, net, store);
    return sharing.cut(roots, monitor, batches) &&
           sharing.share(threads, batches, monitor, stats, store, counts);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace kavrel
