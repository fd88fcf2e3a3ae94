#include "blocked_data.hpp"

#include <array>
#include <source_location>
#include <string>

#include "checked_arithmetic.hpp"
#include "panic.hpp"

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

// Families B and C store the 16 columns of a group as pairs with the group's two halves
// interleaved: stored pair x holds logical pair (x % 2) × 4 + x / 2, lower column first.
// Every quantity here stays below 16, so nothing can overflow and the mapping from stored
// position to column is built once, at compile time, from that formula.
constexpr std::array<u16, 16> column_in_group_of_stored = [] {
  std::array<u16, 16> columns{};
  for (unsigned stored = 0; stored < columns.size(); ++stored) {
    const unsigned stored_pair = stored / 2;
    const unsigned logical_pair = (stored_pair % 2) * 4 + stored_pair / 2;
    columns[stored] = static_cast<u16>(logical_pair * 2 + stored % 2);
  }
  return columns;
}();
static_assert(column_in_group_of_stored[2] == 8 && column_in_group_of_stored[4] == 2 &&
              column_in_group_of_stored[15] == 15);

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
  const u16 column_in_group = column_in_group_of_stored[load_channel];
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
  const u16 column = Arithmetic::add(panel_start, column_in_group_of_stored[physical_column]);
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

}  // namespace

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
