#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <zum_runtime/blocked_data.hpp>

// What zum-layout draws and reports, computed by the library: a matrix shape, and pictures of
// where a layout puts its elements, either as pack stores them (padded to whole panels) or as
// the raw mapping places positions 0 to rows × columns − 1.
namespace zum_layout {

using zum_runtime::blocked_data::BlockLayout;
using zum_runtime::blocked_data::CoordinatePair;

struct Shape {
  BlockLayout layout;
  std::uint16_t rows;
  std::uint16_t columns;

  std::uint32_t elements() const { return std::uint32_t{rows} * columns; }
};

// "KivB8x16 12 x 20"
std::string shape_title(const Shape& shape);

// "family B, panels of 8 rows x 16 columns, 128 elements per panel, column pairs interleaved";
// the elements per panel of families A and C only when the panel's rows are known.
std::string describe_panels(BlockLayout layout, std::optional<std::uint32_t> panel_rows);

// A grid of cells, each showing the buffer position that holds it.
struct Picture {
  Shape shape;
  std::uint32_t rows;  // the grid: the padded shape for a packed picture, else the matrix
  std::uint32_t columns;
  bool packed;                                 // cells outside the matrix are padding
  std::vector<std::int32_t> position_at_cell;  // row-major; -1 where no position is shown
  std::uint32_t positions;                     // positions in the buffer pictured

  std::int32_t position_at(std::uint32_t row, std::uint32_t column) const {
    return position_at_cell[std::size_t{row} * columns + column];
  }
  bool is_padding(std::uint32_t row, std::uint32_t column) const {
    return packed && (row >= shape.rows || column >= shape.columns);
  }
};

// The buffer pack writes for the shape, in storage order: the element each position holds, or
// nothing for padding. Panics with the library's message when pack refuses the shape.
std::vector<std::optional<CoordinatePair>> packed_buffer(const Shape& shape);

// The padded grid pack fills: matrix cells show the position holding them.
Picture packed_picture(const Shape& shape);

// What the raw mapping does with positions 0 to rows × columns − 1 of the unpadded shape.
struct RawPlacement {
  Picture picture{};                      // cells no position reaches show -1
  std::uint32_t colliding = 0;            // positions landing on an already reached cell
  std::uint32_t outside = 0;              // positions landing outside the matrix
  std::vector<CoordinatePair> unreached;  // cells no position reaches, row-major

  bool is_bijection() const { return colliding == 0 && outside == 0 && unreached.empty(); }
};

// Panics with the mapping's own message when it cannot map the shape.
RawPlacement raw_placement(const Shape& shape);

// The columns pack pads the matrix to: a whole number of panels.
std::uint32_t padded_columns(const Shape& shape);

// The rows a panel of the layout covers in a buffer of `padded_rows` rows.
std::uint32_t panel_rows(BlockLayout layout, std::uint32_t padded_rows);

}  // namespace zum_layout
