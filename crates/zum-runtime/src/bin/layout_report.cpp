#include "layout_report.hpp"

#include <cstdio>

#include <zum_runtime/packing.hpp>

namespace zum_layout {
namespace {

using zum_runtime::blocked_data::blocked_buffer_elements;
using zum_runtime::blocked_data::panel_shape;

// Appended piece by piece: g++ 12 warns wrongly (-Wrestrict) about "literal" + std::string.
std::string cell_text(CoordinatePair cell) {
  std::string text = "(";
  text.append(std::to_string(cell.row)).append(", ").append(std::to_string(cell.column));
  return text.append(")");
}

std::string first_cells(const std::vector<CoordinatePair>& cells) {
  constexpr std::size_t shown = 8;
  std::string text;
  for (std::size_t index = 0; index < cells.size() && index < shown; ++index) {
    text += (index == 0 ? "" : ", ") + cell_text(cells[index]);
  }
  if (cells.size() > shown) text += ", ... " + std::to_string(cells.size() - shown) + " more";
  return text;
}

std::string percent(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", 100 * share);
  return text;
}

}  // namespace

Report packing_report(const Shape& shape) {
  const std::string title = shape_title(shape);
  std::size_t buffer = 0;
  try {
    buffer = blocked_buffer_elements(shape.layout, shape.rows, shape.columns);
  } catch (const zum_runtime::Panic& refusal) {
    return {title + ": refused: " + refusal.what() + '\n', false};
  }
  const std::uint32_t columns = padded_columns(shape);
  const std::size_t rows = buffer / columns;
  const std::size_t padding = buffer - shape.elements();
  if (padding == 0) {
    return {title + ": whole: pack stores it without padding, positions 0 to " +
                std::to_string(buffer - 1) + " holding each of the " + std::to_string(buffer) +
                " elements once\n",
            true};
  }
  return {title + ": not whole: pack pads it to " + std::to_string(rows) + " x " +
              std::to_string(columns) + "\n  buffer elements: " + std::to_string(buffer) +
              "\n  matrix elements: " + std::to_string(shape.elements()) +
              "\n  padding elements: " + std::to_string(padding) + " (" +
              percent(static_cast<double>(padding) / static_cast<double>(buffer)) +
              " of the buffer)\n  overhead: " +
              percent(static_cast<double>(padding) / shape.elements()) +
              " more memory than the matrix\n",
          true};
}

Report raw_mapping_report(const Shape& shape) {
  const RawPlacement placement = raw_placement(shape);
  const std::string title = shape_title(shape);
  if (placement.is_bijection()) {
    return {title + ": a bijection: positions 0 to " + std::to_string(shape.elements() - 1) +
                " reach each of the " + std::to_string(shape.elements()) + " cells once\n",
            true};
  }
  std::string text = title + ": not a bijection\n  positions that collide with an earlier one: " +
                     std::to_string(placement.colliding) +
                     "\n  positions outside the matrix: " + std::to_string(placement.outside) +
                     "\n  cells no position reaches: " + std::to_string(placement.unreached.size());
  if (!placement.unreached.empty()) text += ": " + first_cells(placement.unreached);
  return {text + '\n', false};
}

std::string storage_listing(const Shape& shape) {
  const auto buffer = packed_buffer(shape);
  const std::uint32_t columns = padded_columns(shape);
  const std::size_t panel_elements =
      std::size_t{panel_rows(shape.layout, static_cast<std::uint32_t>(buffer.size() / columns))} *
      panel_shape(shape.layout).columns;
  std::string text;
  for (std::size_t position = 0; position < buffer.size(); ++position) {
    const bool panel_start = position % panel_elements == 0;
    if (panel_start) {
      text.append(position == 0 ? "" : "\n").append("panel ");
      text.append(std::to_string(position / panel_elements)).append(":");
    }
    text += ' ';
    text += buffer[position] ? cell_text(*buffer[position]) : "pad";
  }
  return text + '\n';
}

}  // namespace zum_layout
