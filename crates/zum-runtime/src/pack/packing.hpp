#pragma once

#include <zum_runtime/config.hpp>

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include <zum_runtime/blocked_data.hpp>
#include <zum_runtime/panic.hpp>

// Packing whole matrices into blocked buffers and back.
//
// The matrix is row-major: element (r, c) is matrix[r * row_stride + c], row_stride >= columns.
// A blocked buffer holds it padded to whole panels of its layout:
//   padded_rows    = rows, rounded up to the panel height for family B (8, 16 or 32)
//   padded_columns = columns, rounded up to the panel width (family A: 8, 16 or 32; B, C: 16)
//   position p     holds block_coordinates(layout, padded_rows, padded_columns, p) when that
//                  element lies inside the rows × columns matrix, and Element{} otherwise
//
// Bad input panics with zum_runtime::Panic before anything is written, naming the operation,
// the layout and the shape ("pack KivA8 4 x 12: ..."): a blocked buffer of more than 65536
// elements or one the mapping cannot address, row_stride < columns, a matrix span shorter than
// (rows − 1) × row_stride + columns, a buffer span shorter than blocked_buffer_elements, and
// matrix and buffer memory that overlap.
namespace zum_runtime::blocked_data {

// padded_rows × padded_columns; 0 when rows or columns is 0. Panics for a shape pack refuses
// as too large or not addressable, so a caller learns before allocating.
ZUM_RUNTIME_API std::size_t blocked_buffer_elements(BlockLayout layout, std::uint16_t rows,
                                                    std::uint16_t columns);

namespace detail {

// pack and unpack with the element type erased: spans of bytes, and Element{} as the bytes of
// one element, which also gives the element's width.
ZUM_RUNTIME_API void pack_erased(BlockLayout layout, std::uint16_t rows, std::uint16_t columns,
                                 std::span<const std::byte> matrix, std::size_t row_stride,
                                 std::span<std::byte> buffer, std::span<const std::byte> padding);
ZUM_RUNTIME_API void unpack_erased(BlockLayout layout, std::uint16_t rows, std::uint16_t columns,
                                   std::span<const std::byte> buffer, std::span<std::byte> matrix,
                                   std::size_t row_stride, std::span<const std::byte> padding);

}  // namespace detail

// Writes positions 0 to blocked_buffer_elements − 1 of `buffer`, and nothing else.
template <typename Element>
void pack(BlockLayout layout, std::uint16_t rows, std::uint16_t columns,
          std::span<const Element> matrix, std::size_t row_stride, std::span<Element> buffer) {
  static_assert(std::is_trivially_copyable_v<Element>, "pack moves elements as their bytes");
  const Element padding{};
  detail::pack_erased(layout, rows, columns, std::as_bytes(matrix), row_stride,
                      std::as_writable_bytes(buffer), std::as_bytes(std::span(&padding, 1)));
}

// Writes the rows × columns elements of the matrix, not the gaps between its rows; padding
// positions of the buffer are not read.
template <typename Element>
void unpack(BlockLayout layout, std::uint16_t rows, std::uint16_t columns,
            std::span<const Element> buffer, std::span<Element> matrix, std::size_t row_stride) {
  static_assert(std::is_trivially_copyable_v<Element>, "unpack moves elements as their bytes");
  const Element padding{};
  detail::unpack_erased(layout, rows, columns, std::as_bytes(buffer),
                        std::as_writable_bytes(matrix), row_stride,
                        std::as_bytes(std::span(&padding, 1)));
}

}  // namespace zum_runtime::blocked_data
