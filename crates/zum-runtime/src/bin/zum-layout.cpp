// zum-layout: shows how a block layout stores a matrix in its buffer, and what packing it
// costs, before anyone allocates for it.
//
//   zum-layout show LAYOUT ROWS COLUMNS [--raw] [--svg FILE]   (FILE "-" is standard output)
//   zum-layout check LAYOUT ROWS COLUMNS [--raw]
//   zum-layout pack LAYOUT ROWS COLUMNS
//   zum-layout --list | --version
//
// The library computes; this file reads the command line and picks what to print.
#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include <zum_runtime/blocked_data.hpp>
#include <zum_runtime/panic.hpp>

#include "layout_grid.hpp"
#include "layout_model.hpp"
#include "layout_report.hpp"
#include "layout_svg.hpp"

namespace {

using zum_layout::Picture;
using zum_layout::Shape;
using zum_runtime::blocked_data::all_block_layouts;
using zum_runtime::blocked_data::BlockLayout;
using zum_runtime::blocked_data::layout_name;

constexpr int bad_input_status = 2;
constexpr int not_whole_status = 1;
constexpr std::uint32_t max_positions = 65536;  // positions are 16-bit
constexpr std::uint32_t max_grid_extent = 256;  // beyond this a text grid is unreadable

// Bad input: reported as one line on standard error, exit status 2.
struct UsageError {
  std::string message;
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
  if (shape.elements() > max_positions) {
    throw UsageError{"ROWS x COLUMNS is " + std::to_string(shape.elements()) +
                     ", above 65536: buffer positions are 16-bit"};
  }
  return shape;
}

void write_svg(const std::string& path, const Picture& picture) {
  if (path == "-") {
    std::cout << zum_layout::svg_document(picture);
    return;
  }
  std::ofstream file(path, std::ios::binary);
  if (file) file << zum_layout::svg_document(picture);
  if (!file.flush()) throw UsageError{"cannot write SVG file '" + path + "'"};
  std::cout << "wrote " << path << ": " << zum_layout::shape_title(picture.shape) << '\n';
}

struct Arguments {
  bool list = false;
  bool raw = false;
  std::string layout, rows, columns;
  std::optional<std::string> svg_path;
};

int show(const Shape& shape, const Arguments& arguments) {
  const auto raw = arguments.raw ? std::optional(zum_layout::raw_placement(shape)) : std::nullopt;
  const Picture picture = raw ? raw->picture : zum_layout::packed_picture(shape);
  if (arguments.svg_path) return write_svg(*arguments.svg_path, picture), 0;
  if (picture.rows > max_grid_extent || picture.columns > max_grid_extent) {
    throw UsageError{zum_layout::shape_title(shape) +
                     " is too large for a readable grid (at most " +
                     std::to_string(max_grid_extent) +
                     " rows and columns): use --svg FILE to draw it, or check"};
  }
  std::cout << zum_layout::grid_text(picture);
  if (raw && !raw->is_bijection()) {
    std::cout << "not a bijection: zum-layout check " << layout_name(shape.layout) << ' '
              << shape.rows << ' ' << shape.columns << " says why\n";
  }
  return 0;
}

int check(const Shape& shape, bool raw) {
  const auto report =
      raw ? zum_layout::raw_mapping_report(shape) : zum_layout::packing_report(shape);
  std::cout << report.text;
  return report.whole_or_packable ? 0 : not_whole_status;
}

void print_list() {
  for (const BlockLayout layout : all_block_layouts) {
    const std::string name(layout_name(layout));
    std::cout << name << std::string(11 - name.size(), ' ')
              << zum_layout::describe_panels(layout, std::nullopt) << '\n';
  }
}

void add_shape_arguments(CLI::App& command, Arguments& arguments) {
  command.add_option("LAYOUT", arguments.layout, "layout name, as in --list")->required();
  command.add_option("ROWS", arguments.rows, "matrix rows, 1 to 65535")->required();
  command.add_option("COLUMNS", arguments.columns, "matrix columns, 1 to 65535")->required();
}

struct Commands {
  CLI::App* show;
  CLI::App* check;
  CLI::App* pack;
};

Commands add_commands(CLI::App& app, Arguments& arguments) {
  app.add_flag("--list", arguments.list, "list the layouts with family and panel shape");
  app.set_version_flag("--version", ZUM_VERSION);
  app.require_subcommand(0, 1);
  CLI::App* show = app.add_subcommand(
      "show", "print the buffer pack fills as a grid of positions, padding marked");
  add_shape_arguments(*show, arguments);
  show->add_option("--svg", arguments.svg_path,
                   "draw the grid to this SVG file instead (- for standard output)");
  show->add_flag("--raw", arguments.raw, "picture the raw mapping of the unpadded shape instead");
  CLI::App* check = app.add_subcommand(
      "check", "say whether the shape is whole, or how pack pads it, or why it is refused");
  add_shape_arguments(*check, arguments);
  check->add_flag("--raw", arguments.raw,
                  "say whether the raw mapping is a bijection on the unpadded shape instead");
  CLI::App* pack =
      app.add_subcommand("pack", "list the packed buffer in storage order, one line per panel");
  add_shape_arguments(*pack, arguments);
  return {show, check, pack};
}

int run_command(const CLI::App& app, const Commands& commands, const Arguments& arguments) {
  if (arguments.list) {
    if (app.get_subcommands().empty()) return print_list(), 0;
    throw UsageError{"--list takes no command"};
  }
  if (app.get_subcommands().empty()) {
    throw UsageError{"expected a command: show, check, pack or --list"};
  }
  const Shape shape = parse_shape(arguments.layout, arguments.rows, arguments.columns);
  if (commands.show->parsed()) return show(shape, arguments);
  if (commands.check->parsed()) return check(shape, arguments.raw);
  std::cout << zum_layout::storage_listing(shape);
  return 0;
}

// CLI11 would report an unknown command word as a run of unexpected arguments.
void reject_unknown_command(int argc, char* argv[]) {
  if (argc < 2) return;
  const std::string_view first = argv[1];
  if (first.starts_with('-') || first == "show" || first == "check" || first == "pack") return;
  throw UsageError{"unknown command '" + std::string(first) +
                   "': expected show, check, pack or --list"};
}

}  // namespace

int main(int argc, char* argv[]) {
  CLI::App app{
      "Shows how a block layout stores a matrix, what packing it costs, and checks the raw "
      "mapping.",
      "zum-layout"};
  Arguments arguments;
  const Commands commands = add_commands(app, arguments);
  if (argc <= 1) {
    // Nothing asked: say what is missing, then how to ask.
    std::cerr << "zum-layout: expected a command: show, check, pack or --list\n\n" << app.help();
    return bad_input_status;
  }
  try {
    reject_unknown_command(argc, argv);
    app.parse(argc, argv);
    return run_command(app, commands, arguments);
  } catch (const CLI::Success& help_or_version) {
    return app.exit(help_or_version);
  } catch (const CLI::ParseError& error) {
    std::cerr << "zum-layout: " << error.what() << '\n';
    return bad_input_status;
  } catch (const UsageError& error) {
    std::cerr << "zum-layout: " << error.message << '\n';
    return bad_input_status;
  } catch (const zum_runtime::Panic& panic) {
    // The one place a panic is caught: the library cannot place this shape. The raw mapping's
    // panic points into the mapping's formulas; pack's refusal says why in its message.
    std::cout << arguments.layout << ' ' << arguments.rows << " x " << arguments.columns
              << (arguments.raw ? ": the mapping " + panic.report()
                                : ": refused: " + std::string(panic.what()))
              << '\n';
    return not_whole_status;
  }
}
