#pragma once

#include <array>
#include <cstdint>

// Families B and C store the 16 columns of a group as pairs with the group's two halves
// interleaved: stored pair x holds logical pair (x % 2) × 4 + x / 2, lower column first.
//   stored position  0 1 2 3 4 5  6  7 8 9 10 11 12 13 14 15
//   column in group  0 1 8 9 2 3 10 11 4 5 12 13  6  7 14 15
// Every quantity stays below 16, so both directions are tables built once, at compile time,
// from that formula.
namespace zum_runtime::blocked_data::pair_interleave {

inline constexpr std::array<std::uint16_t, 16> column_of_stored = [] {
  std::array<std::uint16_t, 16> columns{};
  for (unsigned stored = 0; stored < columns.size(); ++stored) {
    const unsigned stored_pair = stored / 2;
    const unsigned logical_pair = (stored_pair % 2) * 4 + stored_pair / 2;
    columns[stored] = static_cast<std::uint16_t>(logical_pair * 2 + stored % 2);
  }
  return columns;
}();

inline constexpr std::array<std::uint16_t, 16> stored_of_column = [] {
  std::array<std::uint16_t, 16> stored{};
  for (unsigned position = 0; position < stored.size(); ++position) {
    stored[column_of_stored[position]] = static_cast<std::uint16_t>(position);
  }
  return stored;
}();

static_assert(column_of_stored[2] == 8 && column_of_stored[4] == 2 && column_of_stored[15] == 15);
static_assert(stored_of_column[8] == 2 && stored_of_column[2] == 4 && stored_of_column[7] == 13);

}  // namespace zum_runtime::blocked_data::pair_interleave
