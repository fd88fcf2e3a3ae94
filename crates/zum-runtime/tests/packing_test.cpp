#include <catch2/catch.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "blocked_data.hpp"
#include "pack/internal/kernels.hpp"
#include "pack/packing.hpp"
#include "panic_capture.hpp"

namespace {

using namespace zum_runtime::blocked_data;
using zum_runtime::testing::panic_of;
using u16 = std::uint16_t;

struct Shape {
  BlockLayout layout;
  u16 rows;
  u16 columns;
  std::size_t row_stride;
  std::size_t buffer_elements;  // hand-computed from the panel sizes
};

// Whole shapes, shapes padded in rows (family B), in columns, in both, and wide strides.
const std::vector<Shape> shapes{
    {BlockLayout::KivA8, 4, 16, 16, 64},        {BlockLayout::KivA8, 5, 13, 13, 80},
    {BlockLayout::KivA8, 3, 7, 40, 24},         {BlockLayout::KivA16, 9, 33, 35, 432},
    {BlockLayout::KivA32, 17, 70, 70, 1632},    {BlockLayout::KivA32, 1, 1, 1, 32},
    {BlockLayout::KivB8x16, 32, 64, 64, 2048},  {BlockLayout::KivB8x16, 12, 20, 21, 512},
    {BlockLayout::KivB8x16, 1, 1, 1, 128},      {BlockLayout::KivB16x16, 31, 16, 100, 512},
    {BlockLayout::KivB16x16, 48, 47, 47, 2304}, {BlockLayout::KivB32x16, 33, 17, 17, 2048},
    {BlockLayout::KivB32x16, 64, 64, 80, 4096}, {BlockLayout::KivC16, 3, 17, 17, 96},
    {BlockLayout::KivC16, 128, 64, 64, 8192},   {BlockLayout::KivC16F16, 7, 40, 41, 336},
    {BlockLayout::KivC16F16, 2, 16, 16, 32},
};

// Rows of the mapping a packed buffer uses: family B pads them to whole row groups.
u16 padded_rows(const Shape& shape) {
  const u16 height = panel_shape(shape.layout).rows;
  return height == 0 ? shape.rows : static_cast<u16>((shape.rows + height - 1) / height * height);
}

std::string describe(const Shape& shape) {
  return std::string(layout_name(shape.layout)) + " " + std::to_string(shape.rows) + " x " +
         std::to_string(shape.columns) + " stride " + std::to_string(shape.row_stride);
}

// Every element tells where it came from; the gaps between rows hold `gap`.
template <typename Element>
std::vector<Element> numbered_matrix(const Shape& shape, Element gap) {
  std::vector<Element> matrix(shape.rows * shape.row_stride, gap);
  for (std::size_t row = 0; row < shape.rows; ++row) {
    for (std::size_t column = 0; column < shape.columns; ++column) {
      matrix[row * shape.row_stride + column] = static_cast<Element>(row * 1000 + column + 1);
    }
  }
  return matrix;
}

// What each position of the buffer holds, read straight off the mapping.
template <typename Element>
std::vector<Element> expected_buffer(const Shape& shape, const std::vector<Element>& matrix) {
  std::vector<Element> buffer(shape.buffer_elements);
  for (std::size_t position = 0; position < buffer.size(); ++position) {
    const auto [row, column] = block_coordinates(shape.layout, padded_rows(shape), shape.columns,
                                                 static_cast<u16>(position));
    const bool inside = row < shape.rows && column < shape.columns;
    buffer[position] = inside ? matrix[row * shape.row_stride + column] : Element{};
  }
  return buffer;
}

constexpr std::uint32_t poison = 0xDEADBEEF;

}  // namespace

TEST_CASE("packing: the buffer size counts whole padded panels, and 0 for an empty matrix") {
  for (const Shape& shape : shapes) {
    INFO(describe(shape));
    CHECK(blocked_buffer_elements(shape.layout, shape.rows, shape.columns) ==
          shape.buffer_elements);
  }
  CHECK(blocked_buffer_elements(BlockLayout::KivB32x16, 0, 16) == 0);
  CHECK(blocked_buffer_elements(BlockLayout::KivA8, 16, 0) == 0);
}

TEST_CASE("packing: pack puts at each position the element the mapping names, zero padding") {
  for (const Shape& shape : shapes) {
    INFO(describe(shape));
    const auto matrix = numbered_matrix<std::uint32_t>(shape, poison);
    std::vector<std::uint32_t> buffer(shape.buffer_elements + 3, poison);
    pack<std::uint32_t>(shape.layout, shape.rows, shape.columns, matrix, shape.row_stride, buffer);
    const std::vector<std::uint32_t> tail(buffer.end() - 3, buffer.end());
    buffer.resize(shape.buffer_elements);
    CHECK(buffer == expected_buffer(shape, matrix));
    CHECK(tail == std::vector<std::uint32_t>(3, poison));  // nothing past the buffer's elements
  }
}

TEST_CASE("packing: unpack restores the matrix, skipping the gaps and ignoring padding") {
  for (const Shape& shape : shapes) {
    INFO(describe(shape));
    const auto matrix = numbered_matrix<std::uint32_t>(shape, poison);
    std::vector<std::uint32_t> buffer(shape.buffer_elements);
    pack<std::uint32_t>(shape.layout, shape.rows, shape.columns, matrix, shape.row_stride, buffer);
    // Padding positions hold garbage now; unpack must not carry it anywhere.
    const auto unused = expected_buffer(shape, std::vector<std::uint32_t>(matrix.size(), 1));
    for (std::size_t position = 0; position < buffer.size(); ++position) {
      if (unused[position] == 0) buffer[position] = 0xBADu;
    }
    std::vector<std::uint32_t> restored(matrix.size(), poison);
    unpack<std::uint32_t>(shape.layout, shape.rows, shape.columns, buffer, restored,
                          shape.row_stride);
    CHECK(restored == matrix);
  }
}

namespace {

struct ThreeBytes {
  std::uint8_t bytes[3];
};

struct HalfBits {  // a half-precision bit pattern
  std::uint16_t bits;
};

// Padding is Element{}, whatever its bytes are, even zero in all but the highest.
struct DefaultSeven {
  std::int32_t value = 7;
};

struct DefaultHighByte {
  std::uint32_t value = 0x0700'0000;
};

struct DefaultHighByte64 {
  std::uint64_t value = std::uint64_t{7} << 56;
};

// Compared as bytes: a float built from arbitrary bits may be a NaN, unequal to itself.
template <typename Element>
bool same_bytes(const std::vector<Element>& left, const std::vector<Element>& right) {
  return left.size() == right.size() &&
         std::memcmp(left.data(), right.data(), left.size() * sizeof(Element)) == 0;
}

template <typename Element>
Element element_numbered(std::size_t number) {
  Element element{};
  std::memcpy(static_cast<void*>(&element), &number, std::min(sizeof element, sizeof number));
  return element;
}

}  // namespace

TEMPLATE_TEST_CASE("packing: every element width packs and round-trips like 32-bit words",
                   "[packing]", std::uint8_t, std::int16_t, HalfBits, ThreeBytes, float, double,
                   DefaultSeven, DefaultHighByte, DefaultHighByte64, std::uint64_t) {
  for (const Shape& shape : shapes) {
    INFO(describe(shape));
    std::vector<TestType> matrix(shape.rows * shape.row_stride, element_numbered<TestType>(3));
    for (std::size_t index = 0; index < matrix.size(); ++index) {
      if (index % shape.row_stride < shape.columns) {
        matrix[index] = element_numbered<TestType>(index * 2654435761u + 11);
      }
    }
    std::vector<TestType> buffer(shape.buffer_elements + 1, element_numbered<TestType>(5));
    pack<TestType>(shape.layout, shape.rows, shape.columns, matrix, shape.row_stride, buffer);
    CHECK(same_bytes(std::vector{buffer.back()}, std::vector{element_numbered<TestType>(5)}));
    buffer.pop_back();
    CHECK(same_bytes(buffer, expected_buffer(shape, matrix)));

    std::vector<TestType> restored(matrix.size(), element_numbered<TestType>(3));
    unpack<TestType>(shape.layout, shape.rows, shape.columns, buffer, restored, shape.row_stride);
    CHECK(same_bytes(restored, matrix));
  }
}

namespace {

// What each position of a buffer of `width`-byte elements holds, read straight off the mapping.
std::vector<std::byte> expected_bytes(const Shape& shape, const std::vector<std::byte>& matrix,
                                      std::size_t width) {
  std::vector<std::byte> buffer(shape.buffer_elements * width);
  for (std::size_t position = 0; position < shape.buffer_elements; ++position) {
    const auto [row, column] = block_coordinates(shape.layout, padded_rows(shape), shape.columns,
                                                 static_cast<u16>(position));
    if (row >= shape.rows || column >= shape.columns) continue;
    std::memcpy(buffer.data() + position * width,
                matrix.data() + (row * shape.row_stride + column) * width, width);
  }
  return buffer;
}

}  // namespace

TEST_CASE("packing: every SIMD path the processor runs packs as the mapping says") {
  using kernels::PackJob;
  using kernels::SimdPath;
  const auto paths = kernels::runnable_simd_paths();
  REQUIRE(paths.front() == SimdPath::generic);
  for (const SimdPath path : paths) {
    for (const Shape& shape : shapes) {
      for (const std::size_t width : {1u, 2u, 4u, 8u}) {
        INFO(kernels::simd_path_name(path) << ' ' << describe(shape) << " width " << width);
        const PackJob job{shape.layout,
                          shape.rows,
                          shape.columns,
                          padded_rows(shape),
                          static_cast<std::uint32_t>(shape.buffer_elements / padded_rows(shape)),
                          shape.row_stride,
                          width};
        std::vector<std::byte> matrix(shape.rows * shape.row_stride * width);
        for (std::size_t byte = 0; byte < matrix.size(); ++byte) {
          matrix[byte] = static_cast<std::byte>(byte * 131 + byte / 251);
        }
        std::vector<std::byte> packed(shape.buffer_elements * width, std::byte{0x5A});
        kernels::pack(path, job, matrix.data(), packed.data());
        CHECK(packed == expected_bytes(shape, matrix, width));

        std::vector<std::byte> restored(matrix.size(), std::byte{0x5A});
        kernels::unpack(path, job, packed.data(), restored.data());
        for (std::size_t byte = 0; byte < matrix.size(); ++byte) {
          // The gaps between rows keep what they held.
          if (byte / width % shape.row_stride >= shape.columns) matrix[byte] = std::byte{0x5A};
        }
        CHECK(restored == matrix);
      }
    }
  }
}

namespace {

struct Refusal {
  const char* operation;
  BlockLayout layout;
  u16 rows;
  u16 columns;
  std::size_t row_stride;
  std::size_t matrix_elements;
  std::size_t buffer_elements;
  const char* message;
};

// Runs the refused call over matrix and buffer filled with poison; returns its panic message.
std::string refusal_message(const Refusal& refusal, std::vector<std::uint32_t>& matrix,
                            std::vector<std::uint32_t>& buffer) {
  const std::string operation = refusal.operation;
  const auto panic = panic_of([&] {
    if (operation == "pack") {
      pack<std::uint32_t>(refusal.layout, refusal.rows, refusal.columns, matrix, refusal.row_stride,
                          buffer);
    } else {
      unpack<std::uint32_t>(refusal.layout, refusal.rows, refusal.columns, buffer, matrix,
                            refusal.row_stride);
    }
  });
  return panic ? panic->message : "no panic";
}

}  // namespace

TEST_CASE("packing: bad input panics before writing, naming the layout and the shape") {
  const std::vector<Refusal> refusals{
      {"pack", BlockLayout::KivA8, 256, 257, 257, 65792, 67584,
       "pack KivA8 256 x 257: its blocked buffer of 256 x 264 = 67584 elements is more than "
       "65536"},
      {"unpack", BlockLayout::KivB8x16, 4097, 16, 16, 65552, 65664,
       "unpack KivB8x16 4097 x 16: its blocked buffer of 4104 x 16 = 65664 elements is more "
       "than 65536"},
      {"pack", BlockLayout::KivA32, 2048, 32, 32, 65536, 65536,
       "pack KivA32 2048 x 32: a panel of 2048 x 32 = 65536 elements is more than the mapping "
       "addresses (65535)"},
      {"unpack", BlockLayout::KivC16, 4096, 16, 16, 65536, 65536,
       "unpack KivC16 4096 x 16: a panel of 4096 x 16 = 65536 elements is more than the "
       "mapping addresses (65535)"},
      {"pack", BlockLayout::KivA8, 4, 16, 15, 64, 64,
       "pack KivA8 4 x 16: row_stride 15 is less than its 16 columns"},
      {"unpack", BlockLayout::KivA8, 0, 16, 8, 64, 64,
       "unpack KivA8 0 x 16: row_stride 8 is less than its 16 columns"},
      {"pack", BlockLayout::KivB16x16, 3, 5, 7, 18, 256,
       "pack KivB16x16 3 x 5: the matrix holds 18 elements, fewer than the 19 that rows of "
       "stride 7 need"},
      {"unpack", BlockLayout::KivC16F16, 3, 5, 7, 18, 48,
       "unpack KivC16F16 3 x 5: the matrix holds 18 elements, fewer than the 19 that rows of "
       "stride 7 need"},
      {"pack", BlockLayout::KivB8x16, 2, 2, 2, 4, 127,
       "pack KivB8x16 2 x 2: the buffer holds 127 elements, fewer than the 128 of its blocked "
       "buffer"},
      {"unpack", BlockLayout::KivA32, 2, 2, 2, 4, 0,
       "unpack KivA32 2 x 2: the buffer holds 0 elements, fewer than the 64 of its blocked "
       "buffer"},
      {"pack", BlockLayout::KivA8, 2, 2, SIZE_MAX, 4, 16,
       "pack KivA8 2 x 2: row_stride 18446744073709551615 spans more memory than exists"},
      {"pack", static_cast<BlockLayout>(8), 2, 2, 2, 4, 16,
       "invalid block layout value 8: a BlockLayout holds 0 to 7"},
  };
  for (const Refusal& refusal : refusals) {
    INFO(refusal.message);
    std::vector<std::uint32_t> matrix(refusal.matrix_elements, poison);
    std::vector<std::uint32_t> buffer(refusal.buffer_elements, poison);
    CHECK(refusal_message(refusal, matrix, buffer) == refusal.message);
    CHECK(std::count(matrix.begin(), matrix.end(), poison) == std::ssize(matrix));
    CHECK(std::count(buffer.begin(), buffer.end(), poison) == std::ssize(buffer));
  }
}

TEST_CASE("packing: matrix and buffer memory that overlap are refused, untouched") {
  // One allocation; the buffer starts inside the matrix's last row, or ends in its first.
  const std::vector<std::ptrdiff_t> buffer_starts{15, 0, -63, 16 * 3 + 3};
  for (const std::ptrdiff_t start : buffer_starts) {
    INFO("buffer starts at element " << start);
    std::vector<std::uint32_t> memory(256, poison);
    const std::span<std::uint32_t> matrix(memory.data() + 64, 4 * 16);
    const std::span<std::uint32_t> buffer(memory.data() + 64 + start, 64);
    const auto panic =
        panic_of([&] { pack<std::uint32_t>(BlockLayout::KivA8, 4, 16, matrix, 16, buffer); });
    REQUIRE(panic);
    CHECK(panic->message == "pack KivA8 4 x 16: the matrix and the buffer overlap");
    CHECK(std::count(memory.begin(), memory.end(), poison) == 256);
  }
  // Adjacent, not overlapping: the gap after the last row's columns is not part of the matrix.
  std::vector<std::uint32_t> memory(200, 1);
  pack<std::uint32_t>(BlockLayout::KivA8, 4, 8, std::span(memory.data(), 3 * 16 + 8), 16,
                      std::span(memory.data() + 3 * 16 + 8, 32));
}

TEST_CASE("packing: the largest buffers hold exactly 65536 elements") {
  const std::vector<Shape> largest{
      {BlockLayout::KivA8, 256, 256, 256, 65536},      {BlockLayout::KivA8, 1, 65535, 65535, 65536},
      {BlockLayout::KivA32, 2047, 32, 32, 65504},      {BlockLayout::KivB8x16, 4096, 16, 16, 65536},
      {BlockLayout::KivB32x16, 4065, 16, 16, 65536},   {BlockLayout::KivC16, 4095, 16, 16, 65520},
      {BlockLayout::KivC16F16, 16, 4096, 4096, 65536},
  };
  for (const Shape& shape : largest) {
    INFO(describe(shape));
    REQUIRE(blocked_buffer_elements(shape.layout, shape.rows, shape.columns) ==
            shape.buffer_elements);
    const auto matrix = numbered_matrix<std::uint32_t>(shape, poison);
    std::vector<std::uint32_t> buffer(shape.buffer_elements);
    pack<std::uint32_t>(shape.layout, shape.rows, shape.columns, matrix, shape.row_stride, buffer);
    CHECK(buffer == expected_buffer(shape, matrix));
    std::vector<std::uint32_t> restored(matrix.size(), poison);
    unpack<std::uint32_t>(shape.layout, shape.rows, shape.columns, buffer, restored,
                          shape.row_stride);
    CHECK(restored == matrix);
  }
}

TEST_CASE("packing: block_position inverts block_coordinates") {
  const std::vector<Shape> whole{
      {BlockLayout::KivA8, 1, 64, 64, 64},        {BlockLayout::KivA16, 33, 48, 48, 1584},
      {BlockLayout::KivA32, 128, 64, 64, 8192},   {BlockLayout::KivB8x16, 32, 64, 64, 2048},
      {BlockLayout::KivB16x16, 48, 32, 32, 1536}, {BlockLayout::KivB32x16, 64, 64, 64, 4096},
      {BlockLayout::KivC16, 5, 48, 48, 240},      {BlockLayout::KivC16F16, 128, 64, 64, 8192},
      {BlockLayout::KivA8, 256, 256, 256, 65536},
  };
  for (const Shape& shape : whole) {
    INFO(describe(shape));
    std::size_t mismatches = 0;
    for (std::size_t position = 0; position < shape.buffer_elements; ++position) {
      const auto [row, column] =
          block_coordinates(shape.layout, shape.rows, shape.columns, static_cast<u16>(position));
      mismatches += block_position(shape.layout, shape.rows, 0, row, column) != position;
    }
    CHECK(mismatches == 0);
  }
}

TEST_CASE("packing: block_position refuses an element no position holds") {
  struct Case {
    BlockLayout layout;
    u16 rows;
    u16 row;
    u16 column;
    const char* message;
  };
  const std::vector<Case> cases{
      {BlockLayout::KivA8, 128, 128, 0,
       "KivA8 with 128 rows stores no element (128, 0): rows 128 and past are not stored"},
      {BlockLayout::KivB8x16, 31, 24, 3,
       "KivB8x16 with 31 rows stores no element (24, 3): rows 24 and past are not stored"},
      {BlockLayout::KivB32x16, 16, 0, 0,
       "KivB32x16 with 16 rows stores no element (0, 0): rows 0 and past are not stored"},
      {BlockLayout::KivC16, 2, 2, 5,
       "KivC16 with 2 rows stores no element (2, 5): rows 2 and past are not stored"},
      {BlockLayout::KivA8, 128, 0, 512,
       "KivA8 with 128 rows stores no element (0, 512): its position 65536 is past 65535"},
      {BlockLayout::KivB8x16, 4095, 4087, 65535,
       "KivB8x16 with 4095 rows stores no element (4087, 65535): its position 267911167 is "
       "past 65535"},
      {BlockLayout::KivC16F16, 4095, 0, 32,
       "KivC16F16 with 4095 rows stores no element (0, 32): its position 131040 is past 65535"},
      {BlockLayout::KivA32, 2048, 0, 0, "attempt to multiply with overflow"},
  };
  for (const Case& refused : cases) {
    INFO(refused.message);
    const auto panic = panic_of(
        [&] { block_position(refused.layout, refused.rows, 0, refused.row, refused.column); });
    REQUIRE(panic);
    CHECK(panic->message == refused.message);
  }
  CHECK(block_position(BlockLayout::KivA8, 128, 0, 127, 511) == 65535);
}
