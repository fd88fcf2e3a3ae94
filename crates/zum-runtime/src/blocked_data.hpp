#pragma once

#include <zum_runtime/config.hpp>

#include <array>
#include <cstdint>
#include <string_view>

#include <zum_runtime/panic.hpp>

// Blocked buffers: a matrix of rows × columns elements stored as a sequence of panels, each a
// contiguous run of elements covering a rectangle of the matrix. Positions are counted in
// elements from the start of the buffer; every quantity is an unsigned 16-bit integer.
//
// Family A (KivA8, KivA16, KivA32), inner micro dimension d = 8, 16, 32:
//   panel          = linear / (rows * d)          panels are d columns wide, all rows high
//   panel_offset   = linear % (rows * d)
//   row            = panel_offset / d             row-major inside the panel
//   column         = panel * d + panel_offset % d
//
// Family B (KivB8x16, KivB16x16, KivB32x16), d = 8, 16, 32:
//   panel          = linear / (d * 16)            panels are d rows × 16 columns
//   panel_offset   = linear % (d * 16)
//   inner_groups   = rows / d                     rows past the last whole group never appear
//   column_group   = panel / inner_groups         panels run down the row groups first
//   inner_group    = panel % inner_groups
//   load_channel   = panel_offset / d             16 channels of d elements, one column each
//   row            = inner_group * d + panel_offset % d
//   column         = column_group * 16 + interleaved(load_channel)
//
// Family C (KivC16, KivC16F16), identical mappings:
//   panel          = linear / (rows * 16)         panels are 16 columns wide, all rows high
//   panel_offset   = linear % (rows * 16)
//   row            = panel_offset / 16
//   column         = panel * 16 + interleaved(panel_offset % 16)
//
// interleaved(p): the 16 columns of a group are stored in pairs, the group's two halves
// interleaved. Stored pair x holds logical pair (x % 2) * 4 + x / 2, lower column first:
//   stored position  0 1 2 3 4 5  6  7 8 9 10 11 12 13 14 15
//   column in group  0 1 8 9 2 3 10 11 4 5 12 13  6  7 14 15
namespace zum_runtime::blocked_data {

enum class BlockLayout : std::uint8_t {
  KivA8 = 0,
  KivA16 = 1,
  KivA32 = 2,
  KivB8x16 = 3,
  KivB16x16 = 4,
  KivB32x16 = 5,
  KivC16 = 6,
  KivC16F16 = 7,
};

inline constexpr std::array<BlockLayout, 8> all_block_layouts{
    BlockLayout::KivA8,     BlockLayout::KivA16,    BlockLayout::KivA32, BlockLayout::KivB8x16,
    BlockLayout::KivB16x16, BlockLayout::KivB32x16, BlockLayout::KivC16, BlockLayout::KivC16F16,
};

// The variant's name as written in code ("KivB8x16"); empty for a value outside the eight.
constexpr std::string_view layout_name(BlockLayout layout) {
  constexpr std::array<std::string_view, 8> names{
      "KivA8", "KivA16", "KivA32", "KivB8x16", "KivB16x16", "KivB32x16", "KivC16", "KivC16F16",
  };
  const auto value = static_cast<std::uint8_t>(layout);
  return value < names.size() ? names[value] : std::string_view{};
}

// How a layout cuts the matrix into panels, for tools that describe or draw it.
struct PanelShape {
  char family;             // 'A', 'B' or 'C'
  std::uint16_t rows;      // rows one panel covers; 0 when a panel spans all rows
  std::uint16_t columns;   // columns one panel covers
  bool interleaved_pairs;  // a 16-column group is stored as pairs of its two halves interleaved
};

// The panel shape of a variant; family '?' for a value outside the eight.
constexpr PanelShape panel_shape(BlockLayout layout) {
  switch (layout) {
    case BlockLayout::KivA8:
      return {'A', 0, 8, false};
    case BlockLayout::KivA16:
      return {'A', 0, 16, false};
    case BlockLayout::KivA32:
      return {'A', 0, 32, false};
    case BlockLayout::KivB8x16:
      return {'B', 8, 16, true};
    case BlockLayout::KivB16x16:
      return {'B', 16, 16, true};
    case BlockLayout::KivB32x16:
      return {'B', 32, 16, true};
    case BlockLayout::KivC16:
    case BlockLayout::KivC16F16:
      return {'C', 0, 16, true};
  }
  return {'?', 0, 0, false};
}

// The matrix element a buffer position holds. Ordered row first, then column.
struct CoordinatePair {
  std::uint16_t row;
  std::uint16_t column;

  friend constexpr auto operator<=>(const CoordinatePair&, const CoordinatePair&) = default;
};

// The (row, column) stored at position `linear` of a buffer in `layout` holding a matrix of
// `rows` rows. Pure; `_columns` is accepted and never read, and `linear` is not checked
// against rows × columns. Panics with the checked-arithmetic message when a product or sum
// overflows 16 bits or a divisor is zero (rows = 0, or rows below a family B panel height),
// and panics when `layout` holds a value outside the eight variants.
ZUM_RUNTIME_API CoordinatePair block_coordinates(BlockLayout layout, std::uint16_t rows,
                                                 std::uint16_t _columns, std::uint16_t linear);

// The position of a buffer in `layout` holding `rows` rows that stores (row, column): the
// inverse of block_coordinates, so block_coordinates(layout, rows, c, block_position(layout,
// rows, c, row, column)) is (row, column). `rows` is the mapping's row count, already padded if
// the buffer was. `_columns` is accepted and never read. Panics, naming the element, when no
// position holds it: a row at or past the last row the mapping stores (family B stores whole
// row groups only), or a position past 65535; and with the mapping's own checked-arithmetic
// message when the mapping itself could not run for `rows`.
ZUM_RUNTIME_API std::uint16_t block_position(BlockLayout layout, std::uint16_t rows,
                                             std::uint16_t _columns, std::uint16_t row,
                                             std::uint16_t column);

// Panics with the invalid-layout message when `layout` holds a value outside the eight.
ZUM_RUNTIME_API void require_valid_layout(BlockLayout layout);

}  // namespace zum_runtime::blocked_data
