#include "blocked_data.hpp"

#include <string>

#include "checked_arithmetic.hpp"
#include "panic.hpp"

namespace zum_runtime::blocked_data {
namespace {

using u16 = std::uint16_t;

// Families B and C store the 16 columns of a group as pairs with the group's two halves
// interleaved: stored pair x holds logical pair (x % 2) × 4 + x / 2, lower column first.
u16 logical_pair_of(u16 stored_pair) {
  const u16 half_start = checked_mul<u16>(checked_rem<u16>(stored_pair, 2), 4);
  return checked_add(half_start, checked_div<u16>(stored_pair, 2));
}

// Panels of `inner_micro_dimension` columns spanning all rows, in order of increasing column;
// row-major inside a panel.
template <u16 inner_micro_dimension>
CoordinatePair family_a_coordinates(u16 rows, u16 linear) {
  const u16 panel_elements = checked_mul(rows, inner_micro_dimension);
  const u16 panel = checked_div(linear, panel_elements);
  const u16 panel_offset = checked_rem(linear, panel_elements);
  const u16 row = checked_div(panel_offset, inner_micro_dimension);
  const u16 panel_start = checked_mul(panel, inner_micro_dimension);
  const u16 column = checked_add(panel_start, checked_rem(panel_offset, inner_micro_dimension));
  return {row, column};
}

// Panels of `inner_micro_dimension` rows × 16 columns, running down the row groups first, then
// across the column groups. Inside a panel, 16 load channels of `inner_micro_dimension`
// elements each hold one column, top row first; channels follow the pair interleave.
template <u16 inner_micro_dimension>
CoordinatePair family_b_coordinates(u16 rows, u16 linear) {
  const u16 panel_elements = checked_mul<u16>(inner_micro_dimension, 16);
  const u16 panel = checked_div(linear, panel_elements);
  const u16 panel_offset = checked_rem(linear, panel_elements);
  const u16 inner_groups = checked_div(rows, inner_micro_dimension);
  const u16 column_group = checked_div(panel, inner_groups);
  const u16 inner_group = checked_rem(panel, inner_groups);
  const u16 load_channel = checked_div(panel_offset, inner_micro_dimension);
  const u16 inner_in_group = checked_rem(panel_offset, inner_micro_dimension);
  const u16 logical_pair = logical_pair_of(checked_div<u16>(load_channel, 2));
  const u16 column_in_group =
      checked_add(checked_mul<u16>(logical_pair, 2), checked_rem<u16>(load_channel, 2));
  const u16 group_start_row = checked_mul(inner_group, inner_micro_dimension);
  const u16 row = checked_add(group_start_row, inner_in_group);
  const u16 group_start_column = checked_mul<u16>(column_group, 16);
  const u16 column = checked_add(group_start_column, column_in_group);
  return {row, column};
}

// Panels of 16 columns spanning all rows, row-major inside a panel, each row of a panel stored
// in the pair interleave.
CoordinatePair family_c_coordinates(u16 rows, u16 linear) {
  const u16 panel_elements = checked_mul<u16>(rows, 16);
  const u16 panel = checked_div(linear, panel_elements);
  const u16 panel_offset = checked_rem(linear, panel_elements);
  const u16 physical_column = checked_rem<u16>(panel_offset, 16);
  const u16 logical_pair = logical_pair_of(checked_div<u16>(physical_column, 2));
  const u16 row = checked_div<u16>(panel_offset, 16);
  // Both products first, then the sums from left to right.
  const u16 panel_start = checked_mul<u16>(panel, 16);
  const u16 pair_start = checked_mul<u16>(logical_pair, 2);
  const u16 pair_column = checked_add(panel_start, pair_start);
  const u16 column = checked_add(pair_column, checked_rem<u16>(physical_column, 2));
  return {row, column};
}

[[noreturn]] void panic_invalid_layout(BlockLayout layout) {
  panic("invalid block layout value " + std::to_string(static_cast<unsigned>(layout)) +
        ": a BlockLayout holds 0 to 7");
}

}  // namespace

CoordinatePair block_coordinates(BlockLayout layout, u16 rows, [[maybe_unused]] u16 _columns,
                                 u16 linear) {
  switch (layout) {
    case BlockLayout::KivA8:
      return family_a_coordinates<8>(rows, linear);
    case BlockLayout::KivA16:
      return family_a_coordinates<16>(rows, linear);
    case BlockLayout::KivA32:
      return family_a_coordinates<32>(rows, linear);
    case BlockLayout::KivB8x16:
      return family_b_coordinates<8>(rows, linear);
    case BlockLayout::KivB16x16:
      return family_b_coordinates<16>(rows, linear);
    case BlockLayout::KivB32x16:
      return family_b_coordinates<32>(rows, linear);
    case BlockLayout::KivC16:
    case BlockLayout::KivC16F16:
      return family_c_coordinates(rows, linear);
  }
  // A value cast from outside the eight variants must not fall off the end.
  panic_invalid_layout(layout);
}

}  // namespace zum_runtime::blocked_data
