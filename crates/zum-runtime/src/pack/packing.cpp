#include "pack/packing.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "pack/internal/checks.hpp"
#include "pack/internal/kernels.hpp"

namespace zum_runtime::blocked_data {
namespace {

using u16 = std::uint16_t;
using kernels::PackJob;

std::size_t buffer_elements(const PackJob& job) {
  return std::size_t{job.padded_rows} * job.padded_columns;
}

// The kernels move elements of 1, 2, 4 and 8 bytes, and pad with all-zero bytes.
bool kernels_move(std::size_t element_bytes) {
  return element_bytes == 1 || element_bytes == 2 || element_bytes == 4 || element_bytes == 8;
}

template <typename Word>
bool zero_word(const std::byte* bytes) {
  Word word;
  std::memcpy(&word, bytes, sizeof word);
  return word == 0;
}

// Padding of all-zero bytes, read as one word of a size known to the compiler.
bool kernels_pad_with(std::span<const std::byte> padding) {
  switch (padding.size()) {
    case 1:
      return zero_word<std::uint8_t>(padding.data());
    case 2:
      return zero_word<std::uint16_t>(padding.data());
    case 4:
      return zero_word<std::uint32_t>(padding.data());
    case 8:
      return zero_word<std::uint64_t>(padding.data());
    default:
      return false;
  }
}

kernels::SimdPath fastest_path() {
  static const kernels::SimdPath path = kernels::runnable_simd_paths().back();
  return path;
}

// The definition itself, one element at a time through the mapping, for the elements the
// kernels do not cover.
template <typename Move>
void for_each_position(const PackJob& job, Move move) {
  const std::size_t elements = buffer_elements(job);
  for (std::size_t position = 0; position < elements; ++position) {
    const auto [row, column] = block_coordinates(job.layout, static_cast<u16>(job.padded_rows),
                                                 job.columns, static_cast<u16>(position));
    const bool inside = row < job.rows && column < job.columns;
    move(position, std::size_t{row} * job.row_stride + column, inside);
  }
}

void pack_through_mapping(const PackJob& job, const std::byte* matrix, std::byte* buffer,
                          std::span<const std::byte> padding) {
  const std::size_t width = job.element_bytes;
  for_each_position(job, [&](std::size_t position, std::size_t element, bool inside) {
    const std::byte* from = inside ? matrix + element * width : padding.data();
    std::memcpy(buffer + position * width, from, width);
  });
}

void unpack_through_mapping(const PackJob& job, const std::byte* buffer, std::byte* matrix) {
  const std::size_t width = job.element_bytes;
  for_each_position(job, [&](std::size_t position, std::size_t element, bool inside) {
    if (inside) std::memcpy(matrix + element * width, buffer + position * width, width);
  });
}

}  // namespace

std::size_t blocked_buffer_elements(BlockLayout layout, u16 rows, u16 columns) {
  const PaddedShape padded = addressable_shape({"blocked buffer for", layout, rows, columns});
  return padded.elements();
}

namespace detail {

void pack_erased(BlockLayout layout, u16 rows, u16 columns, std::span<const std::byte> matrix,
                 std::size_t row_stride, std::span<std::byte> buffer,
                 std::span<const std::byte> padding) {
  const PackJob job =
      validated_job({"pack", layout, rows, columns}, row_stride, matrix, buffer, padding.size());
  if (buffer_elements(job) == 0) return;
  if (kernels_pad_with(padding)) {
    kernels::pack(fastest_path(), job, matrix.data(), buffer.data());
  } else {
    pack_through_mapping(job, matrix.data(), buffer.data(), padding);
  }
}

void unpack_erased(BlockLayout layout, u16 rows, u16 columns, std::span<const std::byte> buffer,
                   std::span<std::byte> matrix, std::size_t row_stride,
                   std::span<const std::byte> padding) {
  const PackJob job =
      validated_job({"unpack", layout, rows, columns}, row_stride, matrix, buffer, padding.size());
  if (buffer_elements(job) == 0) return;
  if (kernels_move(padding.size())) {
    kernels::unpack(fastest_path(), job, buffer.data(), matrix.data());
  } else {
    unpack_through_mapping(job, buffer.data(), matrix.data());
  }
}

}  // namespace detail
}  // namespace zum_runtime::blocked_data