#include <catch2/catch.hpp>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "blocked_data.hpp"
#include "panic_capture.hpp"

namespace {

using zum_runtime::blocked_data::all_block_layouts;
using zum_runtime::blocked_data::block_coordinates;
using zum_runtime::blocked_data::BlockLayout;
using zum_runtime::blocked_data::CoordinatePair;
using zum_runtime::blocked_data::layout_name;
using zum_runtime::blocked_data::panel_shape;
using zum_runtime::testing::panic_of;
using u16 = std::uint16_t;

constexpr u16 u16_max = std::numeric_limits<u16>::max();
constexpr const char* mapping_source = "crates/zum-runtime/src/blocked_data.cpp";

std::string describe(CoordinatePair pair) {
  std::string text = "(";
  text += std::to_string(pair.row);
  text += ", ";
  text += std::to_string(pair.column);
  return text + ")";
}

// The mapping, or the panic it raised, as one comparable text.
std::string outcome(BlockLayout layout, u16 rows, u16 columns, u16 linear) {
  std::string result;
  const auto panic =
      panic_of([&] { result = describe(block_coordinates(layout, rows, columns, linear)); });
  return panic ? "panic: " + panic->message : result;
}

// Whether positions 0 .. rows × columns − 1 land one-to-one on the rows × columns grid.
bool is_bijection(BlockLayout layout, u16 rows, u16 columns) {
  const std::size_t elements = std::size_t{rows} * columns;
  std::vector<bool> reached(elements, false);
  for (std::size_t linear = 0; linear < elements; ++linear) {
    const auto [row, column] = block_coordinates(layout, rows, columns, static_cast<u16>(linear));
    if (row >= rows || column >= columns) return false;
    const std::size_t cell = std::size_t{row} * columns + column;
    if (reached[cell]) return false;
    reached[cell] = true;
  }
  return true;
}

struct WorkedValue {
  BlockLayout layout;
  u16 rows;
  u16 linear;
  CoordinatePair expected;
};

}  // namespace

TEST_CASE("blocked_data: worked positions map to their hand-checked elements") {
  const std::vector<WorkedValue> table{
      {BlockLayout::KivA8, 128, 0, {0, 0}},        {BlockLayout::KivA8, 128, 7, {0, 7}},
      {BlockLayout::KivA8, 128, 8, {1, 0}},        {BlockLayout::KivA8, 128, 1023, {127, 7}},
      {BlockLayout::KivA8, 128, 1024, {0, 8}},     {BlockLayout::KivA8, 128, 2048, {0, 16}},
      {BlockLayout::KivA8, 128, 4096, {0, 32}},  // past the end of a 32-column matrix
      {BlockLayout::KivA16, 128, 15, {0, 15}},     {BlockLayout::KivA16, 128, 16, {1, 0}},
      {BlockLayout::KivA16, 128, 2048, {0, 16}},   {BlockLayout::KivA32, 128, 31, {0, 31}},
      {BlockLayout::KivA32, 128, 32, {1, 0}},      {BlockLayout::KivA32, 128, 4096, {0, 32}},
      {BlockLayout::KivB8x16, 32, 0, {0, 0}},      {BlockLayout::KivB8x16, 32, 1, {1, 0}},
      {BlockLayout::KivB8x16, 32, 7, {7, 0}},      {BlockLayout::KivB8x16, 32, 8, {0, 1}},
      {BlockLayout::KivB8x16, 32, 16, {0, 8}},     {BlockLayout::KivB8x16, 32, 24, {0, 9}},
      {BlockLayout::KivB8x16, 32, 127, {7, 15}},   {BlockLayout::KivB8x16, 32, 128, {8, 0}},
      {BlockLayout::KivB8x16, 32, 511, {31, 15}},  {BlockLayout::KivB8x16, 32, 512, {0, 16}},
      {BlockLayout::KivB16x16, 32, 15, {15, 0}},   {BlockLayout::KivB16x16, 32, 16, {0, 1}},
      {BlockLayout::KivB16x16, 32, 32, {0, 8}},    {BlockLayout::KivB16x16, 32, 256, {16, 0}},
      {BlockLayout::KivB16x16, 32, 512, {0, 16}},  {BlockLayout::KivB32x16, 64, 31, {31, 0}},
      {BlockLayout::KivB32x16, 64, 32, {0, 1}},    {BlockLayout::KivB32x16, 64, 512, {32, 0}},
      {BlockLayout::KivB32x16, 64, 1024, {0, 16}}, {BlockLayout::KivC16, 128, 0, {0, 0}},
      {BlockLayout::KivC16, 128, 1, {0, 1}},       {BlockLayout::KivC16, 128, 2, {0, 8}},
      {BlockLayout::KivC16, 128, 3, {0, 9}},       {BlockLayout::KivC16, 128, 4, {0, 2}},
      {BlockLayout::KivC16, 128, 7, {0, 11}},      {BlockLayout::KivC16, 128, 8, {0, 4}},
      {BlockLayout::KivC16, 128, 15, {0, 15}},     {BlockLayout::KivC16, 128, 16, {1, 0}},
      {BlockLayout::KivC16, 128, 2047, {127, 15}}, {BlockLayout::KivC16, 128, 2048, {0, 16}},
  };
  for (const WorkedValue& value : table) {
    INFO(layout_name(value.layout) << ", rows " << value.rows << ", linear " << value.linear);
    CHECK(describe(block_coordinates(value.layout, value.rows, 0, value.linear)) ==
          describe(value.expected));
  }
}

TEST_CASE("blocked_data: stored pairs interleave the two halves of a 16-column group") {
  const std::vector<u16> column_in_group{0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15};
  for (u16 position = 0; position < 16; ++position) {
    INFO("stored position " << position);
    // One row: family C stores a row of 16; family B's load channel x holds one column.
    CHECK(block_coordinates(BlockLayout::KivC16, 1, 16, position).column ==
          column_in_group[position]);
    CHECK(block_coordinates(BlockLayout::KivB8x16, 8, 16, static_cast<u16>(position * 8)).column ==
          column_in_group[position]);
  }
}

TEST_CASE("blocked_data: overflow and zero divisors panic inside the mapping") {
  struct FailingInput {
    BlockLayout layout;
    u16 rows;
    const char* message;
  };
  const char* const multiply = "attempt to multiply with overflow";
  const char* const divide = "attempt to divide by zero";
  const std::vector<FailingInput> table{
      {BlockLayout::KivA8, 8192, multiply},
      {BlockLayout::KivA16, 4096, multiply},
      {BlockLayout::KivA32, 2048, multiply},
      {BlockLayout::KivA32, u16_max, multiply},
      {BlockLayout::KivA8, 0, divide},
      {BlockLayout::KivA32, 0, divide},
      {BlockLayout::KivB8x16, 0, divide},
      {BlockLayout::KivB8x16, 7, divide},
      {BlockLayout::KivB16x16, 8, divide},
      {BlockLayout::KivB16x16, 15, divide},
      {BlockLayout::KivB32x16, 31, divide},
      {BlockLayout::KivC16, 4096, multiply},
      {BlockLayout::KivC16F16, u16_max, multiply},
      {BlockLayout::KivC16, 0, divide},
      {BlockLayout::KivC16F16, 0, divide},
  };
  for (const FailingInput& input : table) {
    // Every position fails the same way, the first and the last included.
    for (const u16 linear : {u16{0}, u16{1}, u16{4097}, u16_max}) {
      INFO(layout_name(input.layout) << ", rows " << input.rows << ", linear " << linear);
      const auto panic = panic_of([&] { block_coordinates(input.layout, input.rows, 64, linear); });
      REQUIRE(panic.has_value());
      CHECK(panic->message == input.message);
      CHECK(panic->file == mapping_source);
    }
  }
}

TEST_CASE("blocked_data: the largest row counts below each failing regime still map") {
  struct Boundary {
    BlockLayout layout;
    u16 rows;
  };
  const std::vector<Boundary> table{
      {BlockLayout::KivA8, 8191},   {BlockLayout::KivA16, 4095}, {BlockLayout::KivA32, 2047},
      {BlockLayout::KivC16, 4095},  {BlockLayout::KivB8x16, 8},  {BlockLayout::KivB16x16, 16},
      {BlockLayout::KivB32x16, 32}, {BlockLayout::KivA8, 1},     {BlockLayout::KivC16F16, 1},
  };
  for (const Boundary& boundary : table) {
    for (const u16 linear : {u16{0}, u16{1}, u16_max}) {
      INFO(layout_name(boundary.layout) << ", rows " << boundary.rows << ", linear " << linear);
      CHECK_FALSE(panic_of([&] { block_coordinates(boundary.layout, boundary.rows, 0, linear); }));
    }
  }
}

TEST_CASE("blocked_data: a value outside the eight variants panics instead of mapping") {
  for (const unsigned value : {8u, 9u, 255u}) {
    const auto layout = static_cast<BlockLayout>(value);
    const auto panic = panic_of([&] { block_coordinates(layout, 128, 32, 0); });
    REQUIRE(panic.has_value());
    CHECK(panic->message ==
          "invalid block layout value " + std::to_string(value) + ": a BlockLayout holds 0 to 7");
    CHECK(layout_name(layout).empty());
  }
}

TEST_CASE("blocked_data: the column count is never read") {
  for (const BlockLayout layout : all_block_layouts) {
    for (const u16 rows : {u16{0}, u16{1}, u16{7}, u16{32}, u16{129}, u16{4096}}) {
      for (u16 linear = 0; linear < 60000; linear = static_cast<u16>(linear + 997)) {
        INFO(layout_name(layout) << ", rows " << rows << ", linear " << linear);
        const std::string reference = outcome(layout, rows, 0, linear);
        CHECK(outcome(layout, rows, 1, linear) == reference);
        CHECK(outcome(layout, rows, 64, linear) == reference);
        CHECK(outcome(layout, rows, u16_max, linear) == reference);
      }
    }
  }
}

TEST_CASE("blocked_data: KivC16 and KivC16F16 map every input alike") {
  const std::vector<u16> row_counts{0, 1, 2, 3, 15, 16, 17, 128, 1000, 4095, 4096, u16_max};
  for (const u16 rows : row_counts) {
    for (std::uint32_t linear = 0; linear <= u16_max; linear += 7) {
      const auto position = static_cast<u16>(linear);
      INFO("rows " << rows << ", linear " << linear);
      REQUIRE(outcome(BlockLayout::KivC16F16, rows, 64, position) ==
              outcome(BlockLayout::KivC16, rows, 64, position));
    }
  }
}

TEST_CASE("blocked_data: whole-panel shapes map one-to-one onto the matrix") {
  for (const BlockLayout layout : all_block_layouts) {
    const u16 width = panel_shape(layout).columns;
    const u16 height = std::max<u16>(panel_shape(layout).rows, 1);
    for (const int row_groups : {1, 2, 3, 5, 8}) {
      for (const int column_panels : {1, 2, 3, 7}) {
        // Family A's inner dimension sets the panel width; family B's sets the row multiple.
        const auto rows = static_cast<u16>(row_groups * (height == 1 ? 11 : height));
        const auto columns = static_cast<u16>(column_panels * width);
        INFO(layout_name(layout) << ", " << rows << " x " << columns);
        CHECK(is_bijection(layout, rows, columns));
      }
    }
  }
  // The largest whole shapes whose positions still fit 16 bits.
  CHECK(is_bijection(BlockLayout::KivA8, 8191, 8));
  CHECK(is_bijection(BlockLayout::KivC16, 4095, 16));
  CHECK(is_bijection(BlockLayout::KivB32x16, 2016, 32));
}

TEST_CASE("blocked_data: one row in family A lays the positions along that row") {
  for (const BlockLayout layout : {BlockLayout::KivA8, BlockLayout::KivA16, BlockLayout::KivA32}) {
    for (std::uint32_t linear = 0; linear <= u16_max; ++linear) {
      const auto pair = block_coordinates(layout, 1, 0, static_cast<u16>(linear));
      REQUIRE(pair.row == 0);
      REQUIRE(pair.column == linear);
    }
  }
}

TEST_CASE("blocked_data: family B never reaches rows past the last whole row group") {
  struct PartialGroup {
    BlockLayout layout;
    u16 rows;
    u16 last_whole_row;
  };
  const std::vector<PartialGroup> table{
      {BlockLayout::KivB8x16, 31, 23},
      {BlockLayout::KivB16x16, 47, 31},
      {BlockLayout::KivB32x16, 63, 31},
  };
  for (const PartialGroup& group : table) {
    std::vector<bool> reached(group.rows, false);
    for (std::uint32_t linear = 0; linear <= u16_max; ++linear) {
      reached.at(block_coordinates(group.layout, group.rows, 64, static_cast<u16>(linear)).row) =
          true;
    }
    const auto first_unreached = std::find(reached.begin(), reached.end(), false) - reached.begin();
    INFO(layout_name(group.layout) << ", rows " << group.rows);
    CHECK(first_unreached == group.last_whole_row + 1);
    CHECK(std::find(reached.begin() + first_unreached, reached.end(), true) == reached.end());
  }
}

TEST_CASE("blocked_data: each panel's positions fill the rectangle its panel shape names") {
  for (const BlockLayout layout : all_block_layouts) {
    const auto panel = panel_shape(layout);
    const u16 rows = panel.rows == 0 ? u16{6} : static_cast<u16>(panel.rows * 3);
    const u16 columns = static_cast<u16>(panel.columns * 2);
    const u16 panel_rows = panel.rows == 0 ? rows : panel.rows;
    const u16 panel_elements = static_cast<u16>(panel_rows * panel.columns);
    INFO(layout_name(layout));
    CHECK(panel.family == layout_name(layout)[3]);
    for (u16 panel_start = 0; panel_start < rows * columns;
         panel_start = static_cast<u16>(panel_start + panel_elements)) {
      const auto corner = block_coordinates(layout, rows, columns, panel_start);
      CHECK(corner.row % panel_rows == 0);
      CHECK(corner.column % panel.columns == 0);
      for (u16 offset = 0; offset < panel_elements; ++offset) {
        const auto pair =
            block_coordinates(layout, rows, columns, static_cast<u16>(panel_start + offset));
        REQUIRE(pair.row >= corner.row);
        REQUIRE(pair.row - corner.row < panel_rows);
        REQUIRE(pair.column >= corner.column);
        REQUIRE(pair.column - corner.column < panel.columns);
      }
    }
  }
  CHECK(panel_shape(static_cast<BlockLayout>(8)).family == '?');
}
