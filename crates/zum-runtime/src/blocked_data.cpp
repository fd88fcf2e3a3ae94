#include "blocked_data.hpp"

#include <array>
#include <source_location>
#include <string>

#include "base/checked_arithmetic.hpp"
#include "base/panic.hpp"
#include "internal/pair_interleave.hpp"
#include "internal/unchecked_mapping.hpp"

namespace zum_runtime::blocked_data {
namespace {

using u16 = std::uint16_t;

// The formulas below are written once over an arithmetic policy. `Checked` is the library's
// mapping: every product, sum and division checked, a panic at the formula's own expression.
// `Unchecked` is the same formulas with no test at all, kept only to measure what checking
// costs; it must only see inputs the checked mapping accepts.
struct Checked {
  using Location = std::source_location;
  static u16 mul(u16 left, u16 right, Location location = Location::current()) {
    return checked_mul(left, right, location);
  }
  static u16 add(u16 left, u16 right, Location location = Location::current()) {
    return checked_add(left, right, location);
  }
  static u16 div(u16 dividend, u16 divisor, Location location = Location::current()) {
    return checked_div(dividend, divisor, location);
  }
  static u16 rem(u16 dividend, u16 divisor, Location location = Location::current()) {
    return checked_rem(dividend, divisor, location);
  }
};

struct Unchecked {
  static u16 mul(u16 left, u16 right) { return static_cast<u16>(unsigned{left} * right); }
  static u16 add(u16 left, u16 right) { return static_cast<u16>(unsigned{left} + right); }
  static u16 div(u16 dividend, u16 divisor) { return static_cast<u16>(dividend / divisor); }
  static u16 rem(u16 dividend, u16 divisor) { return static_cast<u16>(dividend % divisor); }
};

using pair_interleave::column_of_stored;

// Panels of `inner_micro_dimension` columns spanning all rows, in order of increasing column;
// row-major inside a panel.
template <typename Arithmetic, u16 inner_micro_dimension>
CoordinatePair family_a_coordinates(u16 rows, u16 linear) {
  const u16 panel_elements = Arithmetic::mul(rows, inner_micro_dimension);
  const u16 panel = Arithmetic::div(linear, panel_elements);
  const u16 panel_offset = Arithmetic::rem(linear, panel_elements);
  const u16 row = Arithmetic::div(panel_offset, inner_micro_dimension);
  const u16 panel_start = Arithmetic::mul(panel, inner_micro_dimension);
  const u16 column =
      Arithmetic::add(panel_start, Arithmetic::rem(panel_offset, inner_micro_dimension));
  return {row, column};
}

// Panels of `inner_micro_dimension` rows × 16 columns, running down the row groups first, then
// across the column groups. Inside a panel, 16 load channels of `inner_micro_dimension`
// elements each hold one column, top row first; channels follow the pair interleave.
template <typename Arithmetic, u16 inner_micro_dimension>
CoordinatePair family_b_coordinates(u16 rows, u16 linear) {
  const u16 panel_elements = Arithmetic::mul(inner_micro_dimension, 16);
  const u16 panel = Arithmetic::div(linear, panel_elements);
  const u16 panel_offset = Arithmetic::rem(linear, panel_elements);
  const u16 inner_groups = Arithmetic::div(rows, inner_micro_dimension);
  const u16 column_group = Arithmetic::div(panel, inner_groups);
  const u16 inner_group = Arithmetic::rem(panel, inner_groups);
  const u16 load_channel = Arithmetic::div(panel_offset, inner_micro_dimension);
  const u16 inner_in_group = Arithmetic::rem(panel_offset, inner_micro_dimension);
  const u16 column_in_group = column_of_stored[load_channel];
  const u16 group_start_row = Arithmetic::mul(inner_group, inner_micro_dimension);
  const u16 row = Arithmetic::add(group_start_row, inner_in_group);
  const u16 group_start_column = Arithmetic::mul(column_group, 16);
  const u16 column = Arithmetic::add(group_start_column, column_in_group);
  return {row, column};
}

// Panels of 16 columns spanning all rows, row-major inside a panel, each row of a panel stored
// in the pair interleave.
template <typename Arithmetic>
CoordinatePair family_c_coordinates(u16 rows, u16 linear) {
  const u16 panel_elements = Arithmetic::mul(rows, 16);
  const u16 panel = Arithmetic::div(linear, panel_elements);
  const u16 panel_offset = Arithmetic::rem(linear, panel_elements);
  const u16 physical_column = Arithmetic::rem(panel_offset, 16);
  const u16 row = Arithmetic::div(panel_offset, 16);
  const u16 panel_start = Arithmetic::mul(panel, 16);
  const u16 column = Arithmetic::add(panel_start, column_of_stored[physical_column]);
  return {row, column};
}

// Out of line and cold, so the mapping's hot path sets up no string temporaries.
[[noreturn, gnu::noinline, gnu::cold]] void panic_invalid_layout(BlockLayout layout) {
  panic("invalid block layout value " + std::to_string(static_cast<unsigned>(layout)) +
        ": a BlockLayout holds 0 to 7");
}

// One mapping for all eight layouts, over the given arithmetic.
template <typename Arithmetic>
CoordinatePair coordinates_in(BlockLayout layout, u16 rows, u16 linear) {
  switch (layout) {
    case BlockLayout::KivA8:
      return family_a_coordinates<Arithmetic, 8>(rows, linear);
    case BlockLayout::KivA16:
      return family_a_coordinates<Arithmetic, 16>(rows, linear);
    case BlockLayout::KivA32:
      return family_a_coordinates<Arithmetic, 32>(rows, linear);
    case BlockLayout::KivB8x16:
      return family_b_coordinates<Arithmetic, 8>(rows, linear);
    case BlockLayout::KivB16x16:
      return family_b_coordinates<Arithmetic, 16>(rows, linear);
    case BlockLayout::KivB32x16:
      return family_b_coordinates<Arithmetic, 32>(rows, linear);
    case BlockLayout::KivC16:
    case BlockLayout::KivC16F16:
      return family_c_coordinates<Arithmetic>(rows, linear);
  }
  // A value cast from outside the eight variants must not fall off the end.
  panic_invalid_layout(layout);
}

// The position a (row, column) lands on, in a width where no sum or product of 16-bit
// quantities and the panel sizes can wrap; whether it fits 16 bits is checked by the caller.
using WidePosition = std::uint64_t;

[[noreturn, gnu::noinline, gnu::cold]] void panic_not_stored(BlockLayout layout, u16 rows, u16 row,
                                                             u16 column,
                                                             const std::string& reason) {
  panic(std::string(layout_name(layout)) + " with " + std::to_string(rows) +
        " rows stores no element (" + std::to_string(row) + ", " + std::to_string(column) +
        "): " + reason);
}

void require_stored_row(BlockLayout layout, u16 rows, u16 stored_rows, u16 row, u16 column) {
  if (row < stored_rows) return;
  panic_not_stored(layout, rows, row, column,
                   "rows " + std::to_string(stored_rows) + " and past are not stored");
}

u16 narrow_position(BlockLayout layout, u16 rows, u16 row, u16 column, WidePosition position) {
  if (position <= UINT16_MAX) return static_cast<u16>(position);
  panic_not_stored(layout, rows, row, column,
                   "its position " + std::to_string(position) + " is past 65535");
}

// Inverse of family_a_coordinates: the panel of the column, then row-major inside it.
template <u16 inner_micro_dimension>
WidePosition family_a_position(BlockLayout layout, u16 rows, u16 row, u16 column) {
  const u16 panel_elements = checked_mul(rows, inner_micro_dimension);
  require_stored_row(layout, rows, rows, row, column);
  const WidePosition panel = column / inner_micro_dimension;
  return panel * panel_elements + WidePosition{row} * inner_micro_dimension +
         column % inner_micro_dimension;
}

// Inverse of family_b_coordinates: the panel down the row groups, then the column's load
// channel, then the row inside the group.
template <u16 inner_micro_dimension>
WidePosition family_b_position(BlockLayout layout, u16 rows, u16 row, u16 column) {
  const u16 inner_groups = checked_div(rows, inner_micro_dimension);
  require_stored_row(layout, rows, static_cast<u16>(inner_groups * inner_micro_dimension), row,
                     column);
  const WidePosition panel =
      WidePosition{column / 16u} * inner_groups + row / inner_micro_dimension;
  const WidePosition load_channel = pair_interleave::stored_of_column[column % 16u];
  return panel * (inner_micro_dimension * 16u) + load_channel * inner_micro_dimension +
         row % inner_micro_dimension;
}

// Inverse of family_c_coordinates: the panel of the column, the row, then the column's stored
// place in the pair interleave.
WidePosition family_c_position(BlockLayout layout, u16 rows, u16 row, u16 column) {
  const u16 panel_elements = checked_mul(rows, u16{16});
  require_stored_row(layout, rows, rows, row, column);
  const WidePosition panel = column / 16u;
  return panel * panel_elements + WidePosition{row} * 16u +
         pair_interleave::stored_of_column[column % 16u];
}

WidePosition wide_position(BlockLayout layout, u16 rows, u16 row, u16 column) {
  switch (layout) {
    case BlockLayout::KivA8:
      return family_a_position<8>(layout, rows, row, column);
    case BlockLayout::KivA16:
      return family_a_position<16>(layout, rows, row, column);
    case BlockLayout::KivA32:
      return family_a_position<32>(layout, rows, row, column);
    case BlockLayout::KivB8x16:
      return family_b_position<8>(layout, rows, row, column);
    case BlockLayout::KivB16x16:
      return family_b_position<16>(layout, rows, row, column);
    case BlockLayout::KivB32x16:
      return family_b_position<32>(layout, rows, row, column);
    case BlockLayout::KivC16:
    case BlockLayout::KivC16F16:
      return family_c_position(layout, rows, row, column);
  }
  panic_invalid_layout(layout);
}

}  // namespace

void require_valid_layout(BlockLayout layout) {
  if (static_cast<std::uint8_t>(layout) >= all_block_layouts.size()) panic_invalid_layout(layout);
}

u16 block_position(BlockLayout layout, u16 rows, [[maybe_unused]] u16 _columns, u16 row,
                   u16 column) {
  return narrow_position(layout, rows, row, column, wide_position(layout, rows, row, column));
}

CoordinatePair block_coordinates(BlockLayout layout, u16 rows, [[maybe_unused]] u16 _columns,
                                 u16 linear) {
  return coordinates_in<Checked>(layout, rows, linear);
}

namespace unchecked {

CoordinatePair block_coordinates(BlockLayout layout, u16 rows, [[maybe_unused]] u16 _columns,
                                 u16 linear) {
  return coordinates_in<Unchecked>(layout, rows, linear);
}

}  // namespace unchecked
}  // namespace zum_runtime::blocked_data
