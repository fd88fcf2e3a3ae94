#include <catch2/catch.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "blocked_data.hpp"
#include "pack/internal/kernels.hpp"

namespace {

using namespace zum_runtime::blocked_data;
using kernels::PackJob;
using kernels::SimdPath;
using std::size_t;

struct EdgeShape {
  const char* edge;
  size_t rows;
  size_t columns;
  size_t row_stride;
};

// Bytes a matrix spans when the walks choose between unpacking panel by panel and a block of
// rows at a time.
constexpr size_t row_block_switch_bytes = 16 * 1024;

// Shapes on both sides of every place a walk or a kernel changes course, for one layout and
// element width: whole and partial panels, row groups and row blocks, the switch to row
// blocks, and the largest buffer.
std::vector<EdgeShape> edge_shapes(BlockLayout layout, size_t width) {
  const PanelShape panel = panel_shape(layout);
  const size_t panel_columns = panel.columns;
  const size_t height = std::max<size_t>(panel.rows, 1);
  // A stride whose rows fill exactly the switch at `rows_at_switch` rows.
  const size_t stride = 128;
  const size_t rows_at_switch = row_block_switch_bytes / (stride * width);
  // Past the switch by a partial block of rows.
  const auto rows_past_switch = [&](size_t row_stride) {
    return row_block_switch_bytes / (row_stride * width) + 9;
  };
  const size_t wide = 4 * panel_columns;
  return {
      {"one row", 1, panel_columns + 1, panel_columns + 1},
      {"one panel", height, panel_columns, panel_columns},
      {"panel width - 1", height + 3, panel_columns - 1, panel_columns - 1},
      {"panel width + 1", 2 * height + 1, panel_columns + 1, panel_columns + 4},
      {"rows past whole row groups", 2 * height + 3, 2 * panel_columns, 2 * panel_columns},
      {"at the row-block switch", rows_at_switch, 3 * panel_columns + 1, stride},
      {"past the row-block switch", rows_at_switch + 1, 3 * panel_columns + 1, stride},
      {"row blocks, one-column last panel", rows_past_switch(wide + 1), wide + 1, wide + 1},
      {"row blocks, whole panels", rows_past_switch(wide + 2), wide, wide + 2},
      {"the largest buffer", 256, 256, 256},
  };
}

size_t padded(size_t extent, size_t multiple) {
  return multiple == 0 ? extent : (extent + multiple - 1) / multiple * multiple;
}

PackJob job_of(BlockLayout layout, const EdgeShape& shape, size_t width) {
  const PanelShape panel = panel_shape(layout);
  return {layout,
          static_cast<std::uint16_t>(shape.rows),
          static_cast<std::uint16_t>(shape.columns),
          static_cast<std::uint32_t>(padded(shape.rows, panel.rows)),
          static_cast<std::uint32_t>(padded(shape.columns, panel.columns)),
          shape.row_stride,
          width};
}

// For each buffer position, the matrix element it holds, or -1 for padding: the mapping itself.
std::vector<std::int64_t> sources(const PackJob& job) {
  std::vector<std::int64_t> source(size_t{job.padded_rows} * job.padded_columns);
  for (size_t position = 0; position < source.size(); ++position) {
    const auto [row, column] =
        block_coordinates(job.layout, static_cast<std::uint16_t>(job.padded_rows), job.columns,
                          static_cast<std::uint16_t>(position));
    const bool inside = row < job.rows && column < job.columns;
    source[position] = inside ? static_cast<std::int64_t>(row * job.row_stride + column) : -1;
  }
  return source;
}

std::vector<std::byte> patterned(size_t bytes, unsigned seed) {
  std::vector<std::byte> values(bytes);
  for (size_t byte = 0; byte < bytes; ++byte) {
    values[byte] = static_cast<std::byte>((byte * 131 + byte / 251 + seed) & 0xFF);
  }
  return values;
}

struct Expected {
  std::vector<std::byte> buffer;    // packed, padding zero
  std::vector<std::byte> restored;  // unpacked over `poison`: gaps between rows keep it
};

Expected expected(const std::vector<std::int64_t>& source, const std::vector<std::byte>& matrix,
                  const std::vector<std::byte>& poison, size_t width) {
  Expected result{std::vector<std::byte>(source.size() * width), poison};
  for (size_t position = 0; position < source.size(); ++position) {
    if (source[position] < 0) continue;
    const auto element = static_cast<size_t>(source[position]);
    std::memcpy(result.buffer.data() + position * width, matrix.data() + element * width, width);
    std::memcpy(result.restored.data() + element * width, matrix.data() + element * width, width);
  }
  return result;
}

// Where two byte vectors first differ, or "none": a readable failure for a 512 KiB buffer.
std::string first_difference(const std::vector<std::byte>& got,
                             const std::vector<std::byte>& want) {
  const auto [got_at, want_at] = std::ranges::mismatch(got, want);
  if (got_at == got.end() && want_at == want.end()) return "none";
  const auto byte = static_cast<size_t>(got_at - got.begin());
  const auto value = [](auto at, auto end) {
    return at == end ? std::string("end") : std::to_string(std::to_integer<int>(*at));
  };
  return "byte " + std::to_string(byte) + " of " + std::to_string(want.size()) + ": " +
         value(got_at, got.end()) + " where " + value(want_at, want.end()) + " belongs";
}

std::string describe(SimdPath path, BlockLayout layout, size_t width, const EdgeShape& shape) {
  return std::string(kernels::simd_path_name(path)) + ' ' + std::string(layout_name(layout)) + ' ' +
         std::to_string(width) + "-byte " + shape.edge + ": " + std::to_string(shape.rows) + " x " +
         std::to_string(shape.columns) + " stride " + std::to_string(shape.row_stride);
}

}  // namespace

TEST_CASE("pack kernels: every path, family and width moves what the mapping says at every edge",
          "[packing]") {
  const auto paths = kernels::runnable_simd_paths();
  REQUIRE(paths.front() == SimdPath::generic);
  for (const BlockLayout layout : all_block_layouts) {
    for (const size_t width : {1u, 2u, 4u, 8u}) {
      for (const EdgeShape& shape : edge_shapes(layout, width)) {
        const PackJob job = job_of(layout, shape, width);
        const size_t matrix_bytes = ((shape.rows - 1) * shape.row_stride + shape.columns) * width;
        const auto matrix = patterned(matrix_bytes, 7);
        const auto poison = patterned(matrix_bytes, 91);
        const Expected want = expected(sources(job), matrix, poison, width);
        for (const SimdPath path : paths) {
          INFO(describe(path, layout, width, shape));
          // The buffer's byte past its end, and the matrix's gaps, must survive.
          std::vector<std::byte> buffer(want.buffer.size() + 1, std::byte{0x5A});
          kernels::pack(path, job, matrix.data(), buffer.data());
          CHECK(buffer.back() == std::byte{0x5A});
          buffer.pop_back();
          CHECK(first_difference(buffer, want.buffer) == "none");

          std::vector<std::byte> restored = poison;
          kernels::unpack(path, job, want.buffer.data(), restored.data());
          CHECK(first_difference(restored, want.restored) == "none");
        }
      }
    }
  }
}

TEST_CASE("pack kernels: the edge shapes reach both walks and the largest buffer", "[packing]") {
  // Guards the table above against drifting off the edges it is meant to cross.
  for (const BlockLayout layout : all_block_layouts) {
    for (const size_t width : {1u, 2u, 4u, 8u}) {
      const auto shapes = edge_shapes(layout, width);
      const auto bytes = [&](const EdgeShape& shape) {
        return shape.rows * shape.row_stride * width;
      };
      INFO(layout_name(layout) << ' ' << width);
      CHECK(bytes(shapes[5]) == row_block_switch_bytes);
      CHECK(bytes(shapes[6]) > row_block_switch_bytes);
      CHECK(bytes(shapes[7]) > row_block_switch_bytes);
      CHECK(bytes(shapes[8]) > row_block_switch_bytes);
      const PackJob largest = job_of(layout, shapes.back(), width);
      CHECK(size_t{largest.padded_rows} * largest.padded_columns == 65536);
    }
  }
}
