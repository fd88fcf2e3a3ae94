#include "layout_model.hpp"

#include <span>

#include <zum_runtime/packing.hpp>

namespace zum_layout {

using zum_runtime::blocked_data::block_coordinates;
using zum_runtime::blocked_data::blocked_buffer_elements;
using zum_runtime::blocked_data::layout_name;
using zum_runtime::blocked_data::panel_shape;

std::string shape_title(const Shape& shape) {
  return std::string(layout_name(shape.layout)) + " " + std::to_string(shape.rows) + " x " +
         std::to_string(shape.columns);
}

std::string describe_panels(BlockLayout layout, std::optional<std::uint32_t> rows) {
  const auto panel = panel_shape(layout);
  std::string text = "family " + std::string(1, panel.family) + ", panels of ";
  text += panel.rows == 0 ? "all rows" : std::to_string(panel.rows) + " rows";
  text += " x " + std::to_string(panel.columns) + " columns";
  if (panel.rows != 0 || rows) {
    text += ", " + std::to_string(panel_rows(layout, rows.value_or(0)) * panel.columns) +
            " elements per panel";
  }
  if (panel.interleaved_pairs) text += ", column pairs interleaved";
  return text;
}

std::uint32_t padded_columns(const Shape& shape) {
  const std::uint32_t width = panel_shape(shape.layout).columns;
  return (shape.columns + width - 1) / width * width;
}

std::uint32_t panel_rows(BlockLayout layout, std::uint32_t padded_rows) {
  const auto panel = panel_shape(layout);
  return panel.rows != 0 ? panel.rows : padded_rows;
}

namespace {

// Each matrix element names its own cell: (row + 1) << 16 | column, so padding, Element{},
// is the only zero.
using Tag = std::uint64_t;

Tag tag_of(std::uint32_t row, std::uint32_t column) {
  return (Tag{row} + 1) << 16 | column;
}

std::optional<CoordinatePair> cell_of(Tag tag) {
  if (tag == 0) return std::nullopt;
  return CoordinatePair{static_cast<std::uint16_t>((tag >> 16) - 1),
                        static_cast<std::uint16_t>(tag & 0xFFFF)};
}

}  // namespace

std::vector<std::optional<CoordinatePair>> packed_buffer(const Shape& shape) {
  std::vector<Tag> matrix(shape.elements());
  for (std::uint32_t row = 0; row < shape.rows; ++row) {
    for (std::uint32_t column = 0; column < shape.columns; ++column) {
      matrix[std::size_t{row} * shape.columns + column] = tag_of(row, column);
    }
  }
  std::vector<Tag> buffer(blocked_buffer_elements(shape.layout, shape.rows, shape.columns));
  zum_runtime::blocked_data::pack<Tag>(shape.layout, shape.rows, shape.columns, matrix,
                                       shape.columns, buffer);
  std::vector<std::optional<CoordinatePair>> cells;
  cells.reserve(buffer.size());
  for (const Tag tag : buffer) cells.push_back(cell_of(tag));
  return cells;
}

Picture packed_picture(const Shape& shape) {
  const auto buffer = packed_buffer(shape);
  const std::uint32_t columns = padded_columns(shape);
  const auto rows = static_cast<std::uint32_t>(buffer.size() / columns);
  Picture picture{shape,
                  rows,
                  columns,
                  true,
                  std::vector<std::int32_t>(buffer.size(), -1),
                  static_cast<std::uint32_t>(buffer.size())};
  for (std::size_t position = 0; position < buffer.size(); ++position) {
    if (!buffer[position]) continue;
    const auto [row, column] = *buffer[position];
    picture.position_at_cell[std::size_t{row} * columns + column] =
        static_cast<std::int32_t>(position);
  }
  return picture;
}

RawPlacement raw_placement(const Shape& shape) {
  RawPlacement placement;
  placement.picture = {shape,
                       shape.rows,
                       shape.columns,
                       false,
                       std::vector<std::int32_t>(shape.elements(), -1),
                       shape.elements()};
  for (std::uint32_t linear = 0; linear < shape.elements(); ++linear) {
    const auto [row, column] = block_coordinates(shape.layout, shape.rows, shape.columns,
                                                 static_cast<std::uint16_t>(linear));
    if (row >= shape.rows || column >= shape.columns) {
      ++placement.outside;
      continue;
    }
    auto& cell = placement.picture.position_at_cell[std::size_t{row} * shape.columns + column];
    if (cell >= 0) {
      ++placement.colliding;
    } else {
      cell = static_cast<std::int32_t>(linear);
    }
  }
  for (std::uint16_t row = 0; row < shape.rows; ++row) {
    for (std::uint16_t column = 0; column < shape.columns; ++column) {
      if (placement.picture.position_at(row, column) < 0)
        placement.unreached.push_back({row, column});
    }
  }
  return placement;
}

}  // namespace zum_layout
