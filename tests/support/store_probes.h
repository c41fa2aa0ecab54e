#pragma once

// Looking into term stores from tests: their terms as text, and making the
// store's allocations fail by size.

#include <cstddef>
#include <string>

#include "input/network_tables.h"
#include "trees/term_store.h"

namespace kavrel_test {

// "name^exp name (coefficient)" per term of one power, in column order,
// terms separated by "; ".
std::string bucket_text(const kavrel::NetworkTables& net, const kavrel::TermStore& store,
                        int power);

// Allocations whose byte size lies in [low, high] fail; for
// kavrel::set_allocation_failure with a FailureRule as context.
struct FailureRule {
  std::size_t low = 0;
  std::size_t high = 0;
};
bool fail_in_range(std::size_t bytes, void* context);

// Bytes of a store's first termlist for this network, whose rows hold the
// exponents of its own names.
std::size_t first_termlist_bytes(const kavrel::NetworkTables& net);

}  // namespace kavrel_test
