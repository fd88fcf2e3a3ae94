#include "layout_grid.hpp"

#include <vector>

namespace zum_layout {
namespace {

using zum_runtime::blocked_data::layout_name;
using zum_runtime::blocked_data::panel_shape;

constexpr std::string_view panel_bar = " | ";
constexpr std::string_view matrix_bar = " \u2016 ";  // ‖
constexpr std::string_view padding_mark = "\u00b7";  // ·

// Characters on a terminal: UTF-8 continuation bytes take no column of their own.
std::size_t display_width(std::string_view text) {
  std::size_t width = 0;
  for (const char byte : text) width += (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
  return width;
}

std::string pad_left(std::string_view text, std::size_t width) {
  const std::size_t shown = display_width(text);
  return std::string(width > shown ? width - shown : 0, ' ') + std::string(text);
}

// What goes before cell `column` of a grid line: a bar at a panel boundary or at the edge of
// the matrix, a wider gap between stored pairs where a layout interleaves them, else a space.
std::string_view gap_before(const Picture& picture, std::uint32_t column) {
  if (column == 0) return "";
  const auto panel = panel_shape(picture.shape.layout);
  if (column % panel.columns == 0) return panel_bar;
  if (picture.packed && column == picture.shape.columns) return matrix_bar;
  if (panel.interleaved_pairs && column % 2 == 0) return "  ";
  return " ";
}

std::string cell_text(const Picture& picture, std::uint32_t row, std::uint32_t column) {
  if (picture.is_padding(row, column)) return std::string(padding_mark);
  const std::int32_t position = picture.position_at(row, column);
  return position < 0 ? "." : std::to_string(position);
}

// A grid line as its pieces, gaps and cells alternating, so a rule can follow it piece by piece.
std::vector<std::string> line_pieces(const Picture& picture, std::uint32_t row,
                                     std::size_t cell_width) {
  std::vector<std::string> pieces;
  for (std::uint32_t column = 0; column < picture.columns; ++column) {
    pieces.emplace_back(gap_before(picture, column));
    pieces.push_back(pad_left(cell_text(picture, row, column), cell_width));
  }
  return pieces;
}

std::string joined(const std::vector<std::string>& pieces) {
  std::string line;
  for (const std::string& piece : pieces) line += piece;
  return line;
}

// A rule of `fill` under the pieces, crossing the bars: '+' for a panel bar, '‖' for the matrix's.
std::string rule(const std::vector<std::string>& pieces, char fill) {
  std::string line;
  for (const std::string& piece : pieces) {
    if (piece == panel_bar) {
      line += std::string{fill, '+', fill};
    } else if (piece == matrix_bar) {
      line += std::string{fill} + "\u2016" + fill;
    } else {
      line += std::string(display_width(piece), fill);
    }
  }
  return line;
}

std::string title(const Picture& picture) {
  const Shape& shape = picture.shape;
  std::string text = std::string(layout_name(shape.layout)) + ": " +
                     describe_panels(shape.layout, picture.rows) + '\n';
  if (picture.packed && (picture.rows != shape.rows || picture.columns != shape.columns)) {
    text += shape_title(shape) + " packs as " + std::to_string(picture.rows) + " x " +
            std::to_string(picture.columns) + ": " + std::string(padding_mark) +
            " marks padding, beyond the matrix's \u2016 and = rules\n";
  }
  return text;
}

}  // namespace

std::string grid_text(const Picture& picture) {
  const auto panel = panel_shape(picture.shape.layout);
  const std::size_t cell_width = std::to_string(picture.positions - 1).size();
  std::string text = title(picture);
  for (std::uint32_t row = 0; row < picture.rows; ++row) {
    const auto pieces = line_pieces(picture, row, cell_width);
    if (picture.packed && row != 0 && row == picture.shape.rows) {
      text += rule(pieces, '=') + '\n';
    } else if (panel.rows != 0 && row != 0 && row % panel.rows == 0) {
      text += rule(pieces, '-') + '\n';
    }
    text += joined(pieces) + '\n';
  }
  return text;
}

}  // namespace zum_layout
