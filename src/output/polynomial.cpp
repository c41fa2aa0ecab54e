#include "output/polynomial.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <vector>

#include "output/row_scan.h"
#include "trees/kept_threads.h"
#include "trees/memory.h"

namespace kavrel {

namespace {

bool bucket_prints_something(const TermStore& store, int power) {
  for (int position = 0; position < store.bucket_count[power]; ++position) {
    if (store.termvalue[poly_entry(store, position, power)] != 0.0) return true;
  }
  return false;
}

// Exponents up to this bound have their "^e" text prepared once per call.
constexpr int kPreparedExponents = 100;

// Symbol texts prepared once per polynomial, so that a term line is put
// together by copying instead of formatting: " name" (preceded by " * " in
// the rational form) for every name index, and the "^e" field of the smaller
// exponents. The pieces join into exactly what " %.12s^%-2d" and " %.12s   "
// print. Each piece is copied with a fixed length, its own or longer, and
// the line then advances by the piece's real length.
constexpr int kNameCopyBytes = 16;
constexpr int kExponentCopyBytes = 4;
struct SymbolTexts {
  char name[kNameSlots][kNameCopyBytes + 8];
  int name_length[kNameSlots];
  char exponent[kPreparedExponents][kExponentCopyBytes + 4];
  int exponent_length[kPreparedExponents];
};

void prepare_symbol_texts(const NetworkTables& net, bool rational, SymbolTexts& texts) {
  std::memset(&texts, 0, sizeof texts);
  for (int k = 0; k < kNameSlots; ++k) {
    texts.name_length[k] = std::snprintf(texts.name[k], sizeof texts.name[k], "%s %.12s",
                                         rational ? " * " : "", net.branch_name_list[k]);
  }
  texts.exponent_length[1] = std::snprintf(texts.exponent[1], sizeof texts.exponent[1], "   ");
  for (int e = 2; e < kPreparedExponents; ++e) {
    texts.exponent_length[e] =
        std::snprintf(texts.exponent[e], sizeof texts.exponent[e], "^%-2d", e);
  }
}

// Longest line: nine blanks, a sign, a "%g" number and for each of the 104
// names " * ", a blank, 12 characters, "^" and 10 digits; it also bounds the
// fixed-length copies, which overshoot a piece by less than that.
constexpr int kLineBytes = 64 + kNameSlots * 28;

// The polynomial's text is put together here and handed to the stream in
// large writes.
class TextBuffer {
 public:
  explicit TextBuffer(FILE* out) : out_(out) {}
  ~TextBuffer() { flush(); }
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  // Room for `bytes` more characters at the end.
  char* room(int bytes) {
    if (length_ + bytes > kBytes) flush();
    return text_ + length_;
  }
  void advance(int bytes) { length_ += bytes; }
  void put(const char* text, int bytes) {
    std::memcpy(room(bytes), text, static_cast<std::size_t>(bytes));
    advance(bytes);
  }
  void flush() {
    if (length_ > 0) std::fwrite(text_, 1, static_cast<std::size_t>(length_), out_);
    length_ = 0;
  }

 private:
  static constexpr int kBytes = 1 << 14;
  static_assert(kBytes >= 2 * kLineBytes, "a line always fits");
  FILE* out_;
  int length_ = 0;
  char text_[kBytes];
};

// Writes one term line at `line`; returns its length.
int put_term(const SymbolTexts& texts, const Exponent* term, int name_slots, double value,
             bool rational, char* line) {
  char* at = line;
  std::memcpy(at, "         ", 9);
  at += 9;
  if (rational && value > 0) *at++ = '+';
  at += format_value(at, value);
  int k = 0;
  while (k < name_slots) {
    if (k + 8 <= name_slots) {
      uint64_t eight;
      std::memcpy(&eight, term + k, sizeof eight);
      if (eight == 0) {
        k += 8;
        continue;
      }
    }
    const int last = k + 8 <= name_slots ? k + 8 : name_slots;
    for (; k < last; ++k) {
      const int exponent = term[k];
      if (exponent <= 0) continue;
      std::memcpy(at, texts.name[k], kNameCopyBytes);
      at += texts.name_length[k];
      if (exponent < kPreparedExponents) {
        std::memcpy(at, texts.exponent[exponent], kExponentCopyBytes);
        at += texts.exponent_length[exponent];
      } else {
        at += std::snprintf(at, 16, "^%-2d", exponent);
      }
    }
  }
  *at++ = '\n';
  return static_cast<int>(at - line);
}

// The polynomial printed piece by piece, straight through the stream.
void print_polynomial_piecewise(const NetworkTables& net, const CancellationState& state,
                                const TermStore& store, FILE* out) {
  const bool rational = (net.test_bitmap & kBitRational) != 0;
  bool printed_any = false;
  for (int p = 0; p < kPowerBuckets; ++p) {
    if (!bucket_prints_something(store, p)) continue;
    printed_any = true;
    std::fprintf(out, rational ? "\n + s^%-2d * (\n" : "\n + s^%-2d (\n", p - state.min_power);
    for (int position = 0; position < store.bucket_count[p]; ++position) {
      const int row = poly_entry(store, position, p);
      const double value = store.termvalue[row];
      if (value == 0.0) continue;
      std::fprintf(out, "         ");
      if (rational && value > 0) std::fprintf(out, "+");
      std::fprintf(out, "%g", value);
      const Exponent* term = term_row(store, row);
      for (int l = 0; l < store.name_slots; ++l) {
        if (term[l] <= 0) continue;
        if (rational) std::fprintf(out, " * ");
        print_symbol_power(out, net.branch_name_list[l], term[l]);
      }
      std::fprintf(out, "\n");
    }
    std::fprintf(out, "        )");
  }
  if (!printed_any) std::fprintf(out, "\n        0");
  std::fprintf(out, "\n");
}

constexpr int kHeaderBytes = 32;
int put_bucket_header(char* at, bool rational, int printed_power) {
  return std::snprintf(at, kHeaderBytes, rational ? "\n + s^%-2d * (\n" : "\n + s^%-2d (\n",
                       printed_power);
}

PrintChunking chunking_in_use;

// Large polynomials are formatted by worker threads, chunk by chunk, into a
// ring of buffers that the calling thread writes out strictly in order; the
// stream is only ever touched by the calling thread. Chunks are runs of
// consecutive filed terms and may span buckets: the chunk holding a bucket's
// first position puts its header, the one holding its last the closing line.
// Each chunk is handed over under a lock, so large polynomials go in large
// chunks; small ones in small chunks, so that the buffers touch few pages.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
constexpr std::size_t kSmallChunkBytes = std::size_t{1} << 14;
constexpr long long kChunksBeforeLargeChunks = 128;
// Room beyond the terms of a chunk: a header and a closing line for every
// bucket, and the overshoot of the fixed-length copies.
constexpr std::size_t kChunkMarginBytes = kPowerBuckets * (32 + 16) + 64;
constexpr int kMaxChunkWorkers = 4;
constexpr int kSpareChunkSlots = 2;

// A bucket that prints, within the sequence of every filed position of the
// buckets that print.
struct FiledSpan {
  int power;
  int count;
  long long first;
};

struct ChunkSlot {
  char* text = nullptr;
  std::size_t length = 0;
  long long chunk = -1;  // the chunk whose text is complete here
};

struct ChunkedPrint {
  const TermStore* store = nullptr;
  const SymbolTexts* texts = nullptr;
  bool rational = false;
  int min_power = 0;
  std::vector<FiledSpan> spans;
  long long terms = 0;
  long long chunk_terms = 1;
  long long chunks = 0;
  std::vector<ChunkSlot> slots;
  std::atomic<long long> next_chunk{0};
  std::mutex mutex;
  std::condition_variable slot_freed;
  std::condition_variable chunk_done;
  long long chunks_written = 0;  // under mutex, as are the slots' length and chunk
};

// The longest line any term of this store can make, fixed-length copies and
// all: every name present, each with a three-digit exponent.
std::size_t longest_term_line(const SymbolTexts& texts, int name_slots) {
  std::size_t bytes = 9 + 1 + kValueTextBytes + 1 + 16;
  for (int k = 0; k < name_slots; ++k) bytes += static_cast<std::size_t>(texts.name_length[k]) + 4;
  return bytes;
}

std::size_t format_chunk(const ChunkedPrint& print, long long chunk, char* text) {
  const TermStore& store = *print.store;
  long long sequence = chunk * print.chunk_terms;
  const long long end = std::min(sequence + print.chunk_terms, print.terms);
  std::size_t span = 0;
  while (print.spans[span].first + print.spans[span].count <= sequence) ++span;
  char* at = text;
  while (sequence < end) {
    const FiledSpan& bucket = print.spans[span];
    const int p = bucket.power;
    int position = static_cast<int>(sequence - bucket.first);
    const int stop = static_cast<int>(std::min<long long>(bucket.count, end - bucket.first));
    if (position == 0) at += put_bucket_header(at, print.rational, p - print.min_power);
    for (; position < stop; ++position) {
      if (position + kPrefetchDistance < bucket.count) {
        const int ahead = poly_entry(store, position + kPrefetchDistance, p);
        prefetch_row(store, ahead);
        __builtin_prefetch(&store.termvalue[ahead]);
      }
      const int row = poly_entry(store, position, p);
      const double value = store.termvalue[row];
      if (value == 0.0) continue;
      at += put_term(*print.texts, term_row(store, row), store.name_slots, value, print.rational,
                     at);
    }
    sequence = bucket.first + stop;
    if (stop == bucket.count) {
      std::memcpy(at, "        )", 9);
      at += 9;
      ++span;
    }
  }
  return static_cast<std::size_t>(at - text);
}

void format_chunks(ChunkedPrint& print) {
  const long long slot_count = static_cast<long long>(print.slots.size());
  for (;;) {
    const long long chunk = print.next_chunk.fetch_add(1, std::memory_order_relaxed);
    if (chunk >= print.chunks) return;
    ChunkSlot& slot = print.slots[static_cast<std::size_t>(chunk % slot_count)];
    {
      std::unique_lock lock(print.mutex);
      print.slot_freed.wait(lock, [&] { return print.chunks_written > chunk - slot_count; });
    }
    const std::size_t length = format_chunk(print, chunk, slot.text);
    {
      std::lock_guard lock(print.mutex);
      slot.length = length;
      slot.chunk = chunk;
    }
    print.chunk_done.notify_one();
  }
}

// Formats the next chunk nobody has taken when its slot is free; false when
// there is none such.
bool format_a_chunk_while_waiting(ChunkedPrint& print, long long chunks_written) {
  const long long slot_count = static_cast<long long>(print.slots.size());
  long long next = print.next_chunk.load(std::memory_order_relaxed);
  if (next >= print.chunks || next >= chunks_written + slot_count) return false;
  if (!print.next_chunk.compare_exchange_strong(next, next + 1, std::memory_order_relaxed)) {
    return true;  // taken meanwhile: look again
  }
  ChunkSlot& slot = print.slots[static_cast<std::size_t>(next % slot_count)];
  const std::size_t length = format_chunk(print, next, slot.text);
  const std::lock_guard lock(print.mutex);
  slot.length = length;
  slot.chunk = next;
  return true;
}

// The calling thread writes the chunks in order, and formats chunks itself
// rather than wait.
void write_chunks_in_order(ChunkedPrint& print, FILE* out) {
  const long long slot_count = static_cast<long long>(print.slots.size());
  for (long long chunk = 0; chunk < print.chunks; ++chunk) {
    ChunkSlot& slot = print.slots[static_cast<std::size_t>(chunk % slot_count)];
    std::size_t length = 0;
    for (;;) {
      {
        const std::lock_guard lock(print.mutex);
        if (slot.chunk == chunk) {
          length = slot.length;
          break;
        }
      }
      if (format_a_chunk_while_waiting(print, chunk)) continue;
      std::unique_lock lock(print.mutex);
      print.chunk_done.wait(lock, [&] { return slot.chunk == chunk; });
      length = slot.length;
      break;
    }
    std::fwrite(slot.text, 1, length, out);
    {
      std::lock_guard lock(print.mutex);
      print.chunks_written = chunk + 1;
    }
    print.slot_freed.notify_all();
  }
}

// A chunk buffer goes back as a block of its size, so that the buffers of
// the polynomials printed after it take over its pages instead of faulting
// in fresh ones (see KeptBlocksScope).
struct FreeText {
  std::size_t bytes = 0;
  void operator()(char* text) const { release_block(text, bytes); }
};

// False, having printed nothing, when the polynomial is too small for
// threads or they or their buffers could not be had.
bool print_in_chunks(const NetworkTables& net, const CancellationState& state,
                     const TermStore& store, FILE* out, int threads) {
  const PrintChunking chunking = chunking_in_use;
  try {
    ChunkedPrint print;
    for (int p = 0; p < kPowerBuckets; ++p) {
      if (!bucket_prints_something(store, p)) continue;
      print.spans.push_back({p, store.bucket_count[p], print.terms});
      print.terms += store.bucket_count[p];
    }
    if (print.terms == 0 || print.terms < chunking.threshold_terms) return false;

    SymbolTexts texts;
    print.rational = (net.test_bitmap & kBitRational) != 0;
    prepare_symbol_texts(net, print.rational, texts);
    print.texts = &texts;
    print.store = &store;
    print.min_power = state.min_power;
    const std::size_t line = longest_term_line(texts, store.name_slots);
    const long long fitting = std::max<long long>(static_cast<long long>(kChunkBytes / line), 1);
    const long long fitting_small =
        std::max<long long>(static_cast<long long>(kSmallChunkBytes / line), 1);
    print.chunk_terms =
        std::clamp(print.terms / kChunksBeforeLargeChunks, fitting_small, fitting);
    if (chunking.chunk_terms > 0 && chunking.chunk_terms < print.chunk_terms) {
      print.chunk_terms = chunking.chunk_terms;
    }
    print.chunks = (print.terms + print.chunk_terms - 1) / print.chunk_terms;

    // The calling thread formats too.
    const int worker_count = std::min(threads - 1, kMaxChunkWorkers);
    const std::size_t buffer_bytes =
        static_cast<std::size_t>(print.chunk_terms) * line + kChunkMarginBytes;
    std::vector<std::unique_ptr<char, FreeText>> buffers;
    print.slots.resize(static_cast<std::size_t>(worker_count + kSpareChunkSlots));
    for (ChunkSlot& slot : print.slots) {
      buffers.emplace_back(static_cast<char*>(obtain_block(buffer_bytes)), FreeText{buffer_bytes});
      if (buffers.back() == nullptr) return false;
      slot.text = buffers.back().get();
    }

    std::vector<KeptThread> workers;
    workers.reserve(static_cast<std::size_t>(worker_count));
    for (int w = 0; w < worker_count; ++w) {
      try {
        workers.emplace_back([&print] { format_chunks(print); });
      } catch (const std::system_error&) {
        break;
      } catch (const std::bad_alloc&) {
        break;
      }
    }
    // The workers that did start take every chunk between them.
    if (workers.empty()) return false;
    write_chunks_in_order(print, out);
    for (KeptThread& worker : workers) worker.join();
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::fwrite("\n", 1, 1, out);
  return true;
}

}  // namespace

void set_print_chunking(const PrintChunking& chunking) { chunking_in_use = chunking; }

int format_value(char* text, double value) {
  // Whole numbers below a million, the usual coefficients, print under "%g"
  // as plain integers: they are formatted here directly.
  if (value != 0.0 && value > -1e6 && value < 1e6 &&
      value == static_cast<double>(static_cast<int32_t>(value))) {
    int32_t whole = static_cast<int32_t>(value);
    char digits[12];
    int count = 0;
    const bool negative = whole < 0;
    if (negative) whole = -whole;
    do {
      digits[count++] = static_cast<char>('0' + whole % 10);
      whole /= 10;
    } while (whole > 0);
    int length = 0;
    if (negative) text[length++] = '-';
    while (count > 0) text[length++] = digits[--count];
    return length;
  }
  return std::snprintf(text, kValueTextBytes, "%g", value);
}

void print_polynomial(const NetworkTables& net, const CancellationState& state,
                      const TermStore& store, FILE* out, bool worded, int threads) {
  if (worded) {
    print_polynomial_piecewise(net, state, store, out);
    return;
  }
  if (threads > 1 && print_in_chunks(net, state, store, out, threads)) return;
  const bool rational = (net.test_bitmap & kBitRational) != 0;
  SymbolTexts texts;
  prepare_symbol_texts(net, rational, texts);
  TextBuffer text(out);
  bool printed_any = false;
  for (int p = 0; p < kPowerBuckets; ++p) {
    if (!bucket_prints_something(store, p)) continue;
    printed_any = true;
    text.advance(put_bucket_header(text.room(kLineBytes), rational, p - state.min_power));
    const int count = store.bucket_count[p];
    for (int position = 0; position < count; ++position) {
      if (position + kPrefetchDistance < count) {
        const int ahead = poly_entry(store, position + kPrefetchDistance, p);
        prefetch_row(store, ahead);
        __builtin_prefetch(&store.termvalue[ahead]);
      }
      const int row = poly_entry(store, position, p);
      const double value = store.termvalue[row];
      if (value == 0.0) continue;
      text.advance(put_term(texts, term_row(store, row), store.name_slots, value, rational,
                            text.room(kLineBytes)));
    }
    text.put("        )", 9);
  }
  if (!printed_any) text.put("\n        0", 10);
  text.put("\n", 1);
}

}  // namespace kavrel
