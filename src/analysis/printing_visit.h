#pragma once

#include "analysis/param_table.h"
#include "input/network_tables.h"
#include "trees/term_store.h"

namespace kavrel {

// Whether the printing visit of a stage prints row r: selected, of the stage's
// kind, and both of its functions evaluated (by `evaluated`, indexed by code).
inline bool prints_row(const NetworkTables& net, const int32_t (&evaluated)[kTopofunCount], int r,
                       bool scattering_stage) {
  const ParamRow& row = param_table[r];
  return net.param_selected[r] && is_scattering_row(row) == scattering_stage &&
         evaluated[row.num_topofun] && evaluated[row.den_topofun];
}
inline bool prints_row(const NetworkTables& net, const TopofunStores& stores, int r,
                       bool scattering_stage) {
  return prints_row(net, stores.topofun_evaluated, r, scattering_stage);
}

// For each topological function, the last row that the printing visit prints
// with it (-1 for none), so that row can take the function over.
struct LastUses {
  int row[kTopofunCount];
};

inline LastUses last_uses(const NetworkTables& net, const int32_t (&evaluated)[kTopofunCount],
                          bool scattering_stage) {
  LastUses uses;
  for (int& row : uses.row) row = -1;
  for (int r = 0; r < kParamRows; ++r) {
    if (!prints_row(net, evaluated, r, scattering_stage)) continue;
    uses.row[param_table[r].num_topofun] = r;
    uses.row[param_table[r].den_topofun] = r;
  }
  return uses;
}
inline LastUses last_uses(const NetworkTables& net, const TopofunStores& stores,
                          bool scattering_stage) {
  return last_uses(net, stores.topofun_evaluated, scattering_stage);
}

}  // namespace kavrel
