#include "layout_svg.hpp"

#include <sstream>

namespace zum_layout {
namespace {

constexpr int cell_size = 34;
constexpr int margin = 10;
constexpr int title_height = 24;
constexpr std::string_view unreached_fill = "#ffffff";
constexpr std::string_view padding_fill = "#d0d0d0";

// Neighbouring panels get hues far apart.
std::string panel_fill(const Picture& picture, std::int32_t position) {
  const std::uint32_t panel_elements =
      panel_rows(picture.shape.layout, picture.rows) *
      zum_runtime::blocked_data::panel_shape(picture.shape.layout).columns;
  const std::uint32_t panel = static_cast<std::uint32_t>(position) / panel_elements;
  return "hsl(" + std::to_string(panel * 47 % 360) + ", 70%, 80%)";
}

std::string svg_cell(const Picture& picture, std::uint32_t row, std::uint32_t column) {
  const std::int32_t position = picture.position_at(row, column);
  const bool padding = picture.is_padding(row, column);
  const std::string fill = padding        ? std::string(padding_fill)
                           : position < 0 ? std::string(unreached_fill)
                                          : panel_fill(picture, position);
  const std::string label = padding ? "\u00b7" : position < 0 ? "." : std::to_string(position);
  const auto x = margin + static_cast<int>(column) * cell_size;
  const auto y = margin + title_height + static_cast<int>(row) * cell_size;
  std::ostringstream cell;
  cell << "<rect x=\"" << x << "\" y=\"" << y << "\" width=\"" << cell_size << "\" height=\""
       << cell_size << "\" fill=\"" << fill << "\" stroke=\"#888\" stroke-width=\"0.5\"/>";
  cell << "<text x=\"" << x + cell_size / 2 << "\" y=\"" << y + cell_size / 2 + 4
       << "\" text-anchor=\"middle\" font-family=\"monospace\" font-size=\"11\">" << label
       << "</text>\n";
  return cell.str();
}

// The matrix's edge inside its padding, drawn over the cells.
std::string matrix_frame(const Picture& picture) {
  if (!picture.packed) return "";
  std::ostringstream frame;
  frame << "<rect x=\"" << margin << "\" y=\"" << margin + title_height << "\" width=\""
        << picture.shape.columns * cell_size << "\" height=\"" << picture.shape.rows * cell_size
        << "\" fill=\"none\" stroke=\"#000\" stroke-width=\"2\"/>\n";
  return frame.str();
}

}  // namespace

std::string svg_document(const Picture& picture) {
  const auto width = 2 * margin + static_cast<int>(picture.columns) * cell_size;
  const auto height = 2 * margin + title_height + static_cast<int>(picture.rows) * cell_size;
  const Shape& shape = picture.shape;
  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << ' ' << height << "\">\n"
      << "<text x=\"" << margin << "\" y=\"" << margin + 14
      << "\" font-family=\"sans-serif\" font-size=\"14\">" << shape_title(shape) << ": "
      << describe_panels(shape.layout, picture.rows);
  if (picture.packed && (picture.rows != shape.rows || picture.columns != shape.columns)) {
    svg << "; packed as " << picture.rows << " x " << picture.columns << ", padding in grey";
  }
  svg << "</text>\n";
  for (std::uint32_t row = 0; row < picture.rows; ++row) {
    for (std::uint32_t column = 0; column < picture.columns; ++column) {
      svg << svg_cell(picture, row, column);
    }
  }
  svg << matrix_frame(picture) << "</svg>\n";
  return svg.str();
}

}  // namespace zum_layout
