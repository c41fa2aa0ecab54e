#pragma once

#include <cstdint>

namespace kavrel {

// Terminal index: 0 = +p1, 1 = -p1, 2 = +p2, 3 = -p2.
struct ParamRow {
  int32_t param_code;
  const char* param_letter;
  int32_t first_port_pos;
  int32_t first_port_neg;
  int32_t second_port_pos;
  int32_t second_port_neg;
  const char* num_quantity;
  int32_t num_pos;
  int32_t num_neg;
  const char* den_quantity;
  int32_t den_pos;
  int32_t den_neg;
  const char* held_quantity;
  int32_t held_pos;
  int32_t held_neg;
  int32_t sign;
  int32_t num_topofun;
  int32_t den_topofun;
};

constexpr int kParamRows = 32;
constexpr int kTopofunCount = 8;

extern const ParamRow param_table[kParamRows];
extern const char* const param_names[kParamRows];
extern const char* const param_alt_names[kParamRows];
extern const char* const topofun_names[kTopofunCount];

// The param_code values 12..19 belong to the eight scattering rows (s11..s22,
// F11..F22), every other code to an ordinary row. The two stages of the driver
// and the help's formula lines tell the rows apart by them.
constexpr int32_t kFirstScatteringCode = 12;
constexpr int32_t kLastScatteringCode = 19;

inline bool is_scattering_row(const ParamRow& row) {
  return row.param_code >= kFirstScatteringCode && row.param_code <= kLastScatteringCode;
}

// 1 for V, 3 for Uijkl, 2 for every other code.
inline int tree_order_digit(int topofun) {
  return topofun == 0 ? 1 : (topofun == 5 ? 3 : 2);
}

// Port number of a terminal index: 1 for 0 and 1, 2 for 2 and 3.
inline int port_number(int terminal) { return terminal < 2 ? 1 : 2; }

// "Y0", "Z0" or "unity".
const char* normalization_name(int32_t norm_mode);

// Row selected by a p entry's word: the primary names first, then the
// alternates; -1 when neither list has it.
int find_param_row(const char* word);

}  // namespace kavrel
