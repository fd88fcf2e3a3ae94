// zum-layout: shows how a block layout places a matrix's elements in its buffer, and checks
// whether a shape is whole for a layout before anyone allocates for it.
//
//   zum-layout show LAYOUT ROWS COLUMNS [--svg FILE]     (FILE "-" is standard output)
//   zum-layout check LAYOUT ROWS COLUMNS
//   zum-layout --list
#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <zum_runtime/blocked_data.hpp>
#include <zum_runtime/panic.hpp>

namespace {

using zum_runtime::blocked_data::all_block_layouts;
using zum_runtime::blocked_data::block_coordinates;
using zum_runtime::blocked_data::BlockLayout;
using zum_runtime::blocked_data::CoordinatePair;
using zum_runtime::blocked_data::layout_name;
using zum_runtime::blocked_data::panel_shape;

constexpr int bad_input_status = 2;
constexpr int not_whole_status = 1;
constexpr std::uint32_t max_positions = 65536;  // positions are 16-bit
constexpr std::uint32_t max_grid_extent = 256;  // beyond this a text grid is unreadable

// Bad input: reported as one line on standard error, exit status 2.
struct UsageError {
  std::string message;
};

struct Shape {
  BlockLayout layout;
  std::uint16_t rows;
  std::uint16_t columns;

  std::uint32_t positions() const { return std::uint32_t{rows} * columns; }
};

std::string layout_names() {
  std::string names;
  for (const BlockLayout layout : all_block_layouts) {
    names += (names.empty() ? "" : ", ") + std::string(layout_name(layout));
  }
  return names;
}

BlockLayout parse_layout(const std::string& text) {
  for (const BlockLayout layout : all_block_layouts) {
    if (layout_name(layout) == text) return layout;
  }
  throw UsageError{"unknown layout '" + text + "': expected one of " + layout_names()};
}

std::uint16_t parse_extent(const std::string& text, std::string_view what) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || value < 1 || value > 65535) {
    throw UsageError{std::string(what) + " must be a whole number from 1 to 65535, not '" + text +
                     "'"};
  }
  return static_cast<std::uint16_t>(value);
}

Shape parse_shape(const std::string& layout, const std::string& rows, const std::string& columns) {
  const Shape shape{parse_layout(layout), parse_extent(rows, "ROWS"),
                    parse_extent(columns, "COLUMNS")};
  if (shape.positions() > max_positions) {
    throw UsageError{"ROWS x COLUMNS is " + std::to_string(shape.positions()) +
                     ", above 65536: buffer positions are 16-bit"};
  }
  return shape;
}

// "family B, panels of 8 rows x 16 columns, 128 elements per panel, column pairs interleaved"
std::string describe_panels(BlockLayout layout, std::optional<std::uint16_t> matrix_rows) {
  const auto panel = panel_shape(layout);
  std::string text = "family " + std::string(1, panel.family) + ", panels of ";
  text += panel.rows == 0 ? "all rows" : std::to_string(panel.rows) + " rows";
  text += " x " + std::to_string(panel.columns) + " columns";
  if (panel.rows != 0 || matrix_rows) {
    const std::uint32_t rows = panel.rows != 0 ? panel.rows : *matrix_rows;
    text += ", " + std::to_string(rows * panel.columns) + " elements per panel";
  }
  if (panel.interleaved_pairs) text += ", column pairs interleaved";
  return text;
}

// Where each position lands, and what that says about the shape.
struct Placement {
  std::vector<std::int32_t> position_at_cell;  // -1 where no position lands
  std::uint32_t colliding = 0;                 // positions landing on an already reached cell
  std::uint32_t outside = 0;                   // positions landing outside the matrix
  std::vector<CoordinatePair> unreached;       // cells no position reaches, row-major

  bool is_bijection() const { return colliding == 0 && outside == 0 && unreached.empty(); }
};

// Maps every position of the shape. A panic inside the mapping propagates to the entry.
Placement place(const Shape& shape) {
  Placement placement;
  placement.position_at_cell.assign(shape.positions(), -1);
  for (std::uint32_t linear = 0; linear < shape.positions(); ++linear) {
    const auto [row, column] = block_coordinates(shape.layout, shape.rows, shape.columns,
                                                 static_cast<std::uint16_t>(linear));
    if (row >= shape.rows || column >= shape.columns) {
      ++placement.outside;
      continue;
    }
    auto& cell = placement.position_at_cell[std::size_t{row} * shape.columns + column];
    if (cell >= 0) {
      ++placement.colliding;
    } else {
      cell = static_cast<std::int32_t>(linear);
    }
  }
  for (std::uint16_t row = 0; row < shape.rows; ++row) {
    for (std::uint16_t column = 0; column < shape.columns; ++column) {
      if (placement.position_at_cell[std::size_t{row} * shape.columns + column] < 0) {
        placement.unreached.push_back({row, column});
      }
    }
  }
  return placement;
}

std::string shape_title(const Shape& shape) {
  return std::string(layout_name(shape.layout)) + " " + std::to_string(shape.rows) + " x " +
         std::to_string(shape.columns);
}

// --- the text grid -----------------------------------------------------------------------

// What goes before cell `column` of a grid line: a bar at a panel boundary, a wider gap
// between stored pairs where a layout interleaves them, a single space otherwise.
std::string gap_before(BlockLayout layout, std::uint16_t column) {
  if (column == 0) return "";
  const auto panel = panel_shape(layout);
  if (column % panel.columns == 0) return " | ";
  if (panel.interleaved_pairs && column % 2 == 0) return "  ";
  return " ";
}

std::string pad_left(const std::string& text, std::size_t width) {
  return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

std::string grid_line(const Shape& shape, const Placement& placement, std::uint16_t row,
                      std::size_t cell_width) {
  std::string line;
  for (std::uint16_t column = 0; column < shape.columns; ++column) {
    const auto position = placement.position_at_cell[std::size_t{row} * shape.columns + column];
    line += gap_before(shape.layout, column);
    line += pad_left(position < 0 ? "." : std::to_string(position), cell_width);
  }
  return line;
}

// The rule between family B row groups: dashes, with '+' where a panel bar crosses it.
std::string group_rule(const std::string& grid_line_text) {
  std::string rule;
  for (const char character : grid_line_text) rule += character == '|' ? '+' : '-';
  return rule;
}

void print_grid(const Shape& shape, const Placement& placement) {
  const auto panel = panel_shape(shape.layout);
  const std::size_t cell_width = std::to_string(shape.positions() - 1).size();
  std::cout << layout_name(shape.layout) << ": " << describe_panels(shape.layout, shape.rows)
            << '\n';
  for (std::uint16_t row = 0; row < shape.rows; ++row) {
    const std::string line = grid_line(shape, placement, row, cell_width);
    if (panel.rows != 0 && row != 0 && row % panel.rows == 0) std::cout << group_rule(line) << '\n';
    std::cout << line << '\n';
  }
  if (!placement.is_bijection()) {
    std::cout << "not a bijection: zum-layout check " << layout_name(shape.layout) << ' '
              << shape.rows << ' ' << shape.columns << " says why\n";
  }
}

// --- the SVG picture ---------------------------------------------------------------------

constexpr int cell_size = 34;
constexpr int margin = 10;
constexpr int title_height = 24;

std::uint32_t panel_of_position(const Shape& shape, std::uint32_t linear) {
  const auto panel = panel_shape(shape.layout);
  const std::uint32_t panel_rows = panel.rows != 0 ? panel.rows : shape.rows;
  return linear / (panel_rows * panel.columns);
}

std::string svg_cell(const Shape& shape, std::uint16_t row, std::uint16_t column,
                     std::int32_t position) {
  const int x = margin + column * cell_size;
  const int y = margin + title_height + row * cell_size;
  std::ostringstream cell;
  const std::string fill =
      position < 0
          ? "#ffffff"
          : "hsl(" +
                std::to_string(panel_of_position(shape, static_cast<std::uint32_t>(position)) * 47 %
                               360) +
                ", 70%, 80%)";
  cell << "<rect x=\"" << x << "\" y=\"" << y << "\" width=\"" << cell_size << "\" height=\""
       << cell_size << "\" fill=\"" << fill << "\" stroke=\"#888\" stroke-width=\"0.5\"/>";
  cell << "<text x=\"" << x + cell_size / 2 << "\" y=\"" << y + cell_size / 2 + 4
       << "\" text-anchor=\"middle\" font-family=\"monospace\" font-size=\"11\">"
       << (position < 0 ? "." : std::to_string(position)) << "</text>\n";
  return cell.str();
}

std::string svg_document(const Shape& shape, const Placement& placement) {
  const int width = 2 * margin + shape.columns * cell_size;
  const int height = 2 * margin + title_height + shape.rows * cell_size;
  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << ' ' << height << "\">\n"
      << "<text x=\"" << margin << "\" y=\"" << margin + 14
      << "\" font-family=\"sans-serif\" font-size=\"14\">" << shape_title(shape) << ": "
      << describe_panels(shape.layout, shape.rows) << "</text>\n";
  for (std::uint16_t row = 0; row < shape.rows; ++row) {
    for (std::uint16_t column = 0; column < shape.columns; ++column) {
      svg << svg_cell(shape, row, column,
                      placement.position_at_cell[std::size_t{row} * shape.columns + column]);
    }
  }
  svg << "</svg>\n";
  return svg.str();
}

void write_svg(const std::string& path, const Shape& shape, const Placement& placement) {
  std::ofstream file(path, std::ios::binary);
  if (file) file << svg_document(shape, placement);
  if (!file.flush()) throw UsageError{"cannot write SVG file '" + path + "'"};
}

// --- the commands ------------------------------------------------------------------------

int show(const Shape& shape, const std::optional<std::string>& svg_path) {
  if (!svg_path && (shape.rows > max_grid_extent || shape.columns > max_grid_extent)) {
    throw UsageError{shape_title(shape) + " is too large for a readable grid (at most " +
                     std::to_string(max_grid_extent) +
                     " rows and columns): use --svg FILE to draw it, or check"};
  }
  const Placement placement = place(shape);
  if (svg_path == "-") {
    std::cout << svg_document(shape, placement);
  } else if (svg_path) {
    write_svg(*svg_path, shape, placement);
    std::cout << "wrote " << *svg_path << ": " << shape_title(shape) << '\n';
  } else {
    print_grid(shape, placement);
  }
  return 0;
}

std::string first_cells(const std::vector<CoordinatePair>& cells) {
  constexpr std::size_t shown = 8;
  std::string text;
  for (std::size_t index = 0; index < cells.size() && index < shown; ++index) {
    text += (index == 0 ? "" : ", ") + std::string("(") + std::to_string(cells[index].row) + ", " +
            std::to_string(cells[index].column) + ")";
  }
  if (cells.size() > shown) text += ", ... " + std::to_string(cells.size() - shown) + " more";
  return text;
}

int check(const Shape& shape) {
  const Placement placement = place(shape);
  const std::string title = shape_title(shape);
  if (placement.is_bijection()) {
    std::cout << title << ": a bijection: positions 0 to " << shape.positions() - 1
              << " reach each of the " << shape.positions() << " cells once\n";
    return 0;
  }
  std::cout << title << ": not a bijection\n"
            << "  positions that collide with an earlier one: " << placement.colliding << '\n'
            << "  positions outside the matrix: " << placement.outside << '\n'
            << "  cells no position reaches: " << placement.unreached.size();
  if (!placement.unreached.empty()) std::cout << ": " << first_cells(placement.unreached);
  std::cout << '\n';
  return not_whole_status;
}

void print_list() {
  for (const BlockLayout layout : all_block_layouts) {
    const std::string name(layout_name(layout));
    std::cout << name << std::string(11 - name.size(), ' ') << describe_panels(layout, std::nullopt)
              << '\n';
  }
}

struct Arguments {
  bool list = false;
  std::string layout, rows, columns;
  std::optional<std::string> svg_path;
};

void add_shape_arguments(CLI::App& command, Arguments& arguments) {
  command.add_option("LAYOUT", arguments.layout, "layout name, as in --list")->required();
  command.add_option("ROWS", arguments.rows, "matrix rows, 1 to 65535")->required();
  command.add_option("COLUMNS", arguments.columns, "matrix columns, 1 to 65535")->required();
}

int run_command(const CLI::App& app, const CLI::App& show_command, const Arguments& arguments) {
  if (arguments.list) {
    if (app.get_subcommands().empty()) return print_list(), 0;
    throw UsageError{"--list takes no command"};
  }
  if (app.get_subcommands().empty()) throw UsageError{"expected a command: show, check or --list"};
  const Shape shape = parse_shape(arguments.layout, arguments.rows, arguments.columns);
  if (show_command.parsed()) return show(shape, arguments.svg_path);
  return check(shape);
}

// CLI11 would report an unknown command word as a run of unexpected arguments.
void reject_unknown_command(int argc, char* argv[]) {
  if (argc < 2) return;
  const std::string_view first = argv[1];
  if (first.starts_with('-') || first == "show" || first == "check") return;
  throw UsageError{"unknown command '" + std::string(first) + "': expected show, check or --list"};
}

}  // namespace

int main(int argc, char* argv[]) {
  CLI::App app{
      "Shows how a block layout stores a matrix, and checks whether a shape is whole "
      "for it.",
      "zum-layout"};
  Arguments arguments;
  app.add_flag("--list", arguments.list, "list the layouts with family and panel shape");
  app.set_version_flag("--version", ZUM_VERSION);
  app.require_subcommand(0, 1);
  CLI::App* show_command = app.add_subcommand("show", "print the matrix as a grid of positions");
  add_shape_arguments(*show_command, arguments);
  show_command->add_option("--svg", arguments.svg_path,
                           "draw the grid to this SVG file instead (- for standard output)");
  CLI::App* check_command =
      app.add_subcommand("check", "say whether the positions map one-to-one onto the matrix");
  add_shape_arguments(*check_command, arguments);

  if (argc <= 1) {
    // Nothing asked: say what is missing, then how to ask.
    std::cerr << "zum-layout: expected a command: show, check or --list\n\n" << app.help();
    return bad_input_status;
  }
  try {
    reject_unknown_command(argc, argv);
    app.parse(argc, argv);
    return run_command(app, *show_command, arguments);
  } catch (const CLI::Success& help_or_version) {
    return app.exit(help_or_version);
  } catch (const CLI::ParseError& error) {
    std::cerr << "zum-layout: " << error.what() << '\n';
    return bad_input_status;
  } catch (const UsageError& error) {
    std::cerr << "zum-layout: " << error.message << '\n';
    return bad_input_status;
  } catch (const zum_runtime::Panic& panic) {
    // The one place a panic is caught: the mapping cannot place this shape.
    std::cout << arguments.layout << ' ' << arguments.rows << " x " << arguments.columns
              << ": the mapping " << panic.report() << '\n';
    return not_whole_status;
  }
}
