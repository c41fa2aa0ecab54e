#pragma once

namespace kavrel {

// How far the work on one store may be shared out.
struct WorkShare {
  int threads = 1;
  // Fewer terms per thread are not worth starting a thread for.
  int min_terms_per_thread = 1 << 16;
  int workers_for(int terms) const {
    const int by_size = min_terms_per_thread > 0 ? terms / min_terms_per_thread : threads;
    return by_size < threads ? by_size : threads;
  }
};

}  // namespace kavrel
