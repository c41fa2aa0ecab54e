#include "support/store_probes.h"

namespace kavrel_test {

std::string bucket_text(const kavrel::NetworkTables& net, const kavrel::TermStore& store,
                        int power) {
  std::string text;
  for (int r = 0; r < store.bucket_count[power]; ++r) {
    const kavrel::Exponent* row = kavrel::term_row(store, kavrel::poly_entry(store, r, power));
    if (!text.empty()) text += "; ";
    std::string product;
    for (int i = 0; i < store.name_slots; ++i) {
      if (row[i] == 0) continue;
      if (!product.empty()) product += " ";
      product += net.branch_name_list[i];
      if (row[i] != 1) product += "^" + std::to_string(row[i]);
    }
    text += product + " (" + std::to_string(kavrel::coefficient_in(store, row)) + ")";
  }
  return text;
}

bool fail_in_range(std::size_t bytes, void* context) {
  const auto* rule = static_cast<const FailureRule*>(context);
  return bytes >= rule->low && bytes <= rule->high;
}

std::size_t first_termlist_bytes(const kavrel::NetworkTables& net) {
  kavrel::TermStore rows;
  rows.name_slots = kavrel::name_slots_for(net.branch_name_count + 1);
  return rows.row_bytes() * kavrel::kInitialTermCapacity;
}

}  // namespace kavrel_test
