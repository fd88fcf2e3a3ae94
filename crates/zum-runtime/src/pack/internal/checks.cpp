#include "pack/internal/checks.hpp"

#include <array>

namespace zum_runtime::blocked_data {
namespace {

using u16 = std::uint16_t;
using kernels::PackJob;

// Every position of a blocked buffer is a 16-bit number.
constexpr std::size_t max_buffer_elements = 65536;
constexpr std::size_t max_panel_elements = 65535;

// Panel sizes are powers of two, so rounding up is a mask rather than a division: a call that
// packs a small matrix is mostly these checks.
std::uint32_t round_up(std::uint32_t value, std::uint32_t power_of_two) {
  return (value + power_of_two - 1) & ~(power_of_two - 1);
}

// rows × columns padded to whole panels of `panel`.
PaddedShape padded_shape(PanelShape panel, u16 rows, u16 columns) {
  return {panel.rows == 0 ? rows : round_up(rows, panel.rows), round_up(columns, panel.columns)};
}

// The elements (rows − 1) × row_stride + columns that the matrix spans; false on overflow.
bool matrix_extent(u16 rows, u16 columns, std::size_t row_stride, std::size_t& extent) {
  if (rows == 0 || columns == 0) {
    extent = 0;
    return true;
  }
  return !__builtin_mul_overflow(std::size_t{rows} - 1u, row_stride, &extent) &&
         !__builtin_add_overflow(extent, std::size_t{columns}, &extent);
}

// Whether two byte ranges share a byte. Compared as addresses: the ranges may belong to
// unrelated objects.
bool overlap(const std::byte* first, std::size_t first_bytes, const std::byte* second,
             std::size_t second_bytes) {
  if (first_bytes == 0 || second_bytes == 0) return false;
  const auto first_start = reinterpret_cast<std::uintptr_t>(first);
  const auto second_start = reinterpret_cast<std::uintptr_t>(second);
  return first_start < second_start + second_bytes && second_start < first_start + first_bytes;
}

// Whether `bytes` holds `elements` elements; compared without dividing, on the fast path.
bool holds(std::span<const std::byte> bytes, std::size_t elements, std::size_t element_bytes) {
  std::size_t needed = 0;
  return !__builtin_mul_overflow(elements, element_bytes, &needed) && bytes.size() >= needed;
}

// Checks everything pack and unpack refuse, in the order the refusals are documented, and
// panics naming the first that fails. Returns the job when nothing fails.
[[gnu::cold, gnu::noinline]] PackJob checked_job(const Operation& operation, std::size_t row_stride,
                                                 std::span<const std::byte> matrix,
                                                 std::span<const std::byte> buffer,
                                                 std::size_t element_bytes) {
  const PaddedShape padded = addressable_shape(operation);
  if (row_stride < operation.columns) {
    operation.refuse("row_stride " + std::to_string(row_stride) + " is less than its " +
                     std::to_string(operation.columns) + " columns");
  }
  std::size_t matrix_elements = 0;
  if (!matrix_extent(operation.rows, operation.columns, row_stride, matrix_elements)) {
    operation.refuse("row_stride " + std::to_string(row_stride) + " spans more memory than exists");
  }
  if (!holds(matrix, matrix_elements, element_bytes)) {
    operation.refuse("the matrix holds " + std::to_string(matrix.size() / element_bytes) +
                     " elements, fewer than the " + std::to_string(matrix_elements) +
                     " that rows of stride " + std::to_string(row_stride) + " need");
  }
  const std::size_t buffer_elements = padded.elements();
  if (!holds(buffer, buffer_elements, element_bytes)) {
    operation.refuse("the buffer holds " + std::to_string(buffer.size() / element_bytes) +
                     " elements, fewer than the " + std::to_string(buffer_elements) +
                     " of its blocked buffer");
  }
  if (overlap(matrix.data(), matrix_elements * element_bytes, buffer.data(),
              buffer_elements * element_bytes)) {
    operation.refuse("the matrix and the buffer overlap");
  }
  return {operation.layout, operation.rows, operation.columns, padded.rows,
          padded.columns,   row_stride,     element_bytes};
}

// Each layout's panel shape, looked up rather than switched on: a call that packs a small
// matrix is mostly its checks.
constexpr auto panel_shapes = [] {
  std::array<PanelShape, all_block_layouts.size()> shapes{};
  for (const BlockLayout layout : all_block_layouts) {
    shapes[static_cast<std::size_t>(layout)] = panel_shape(layout);
  }
  return shapes;
}();

// The same checks as one branch-light pass with no message built; any failure goes to
}  // namespace

// The shape padded to whole panels; panics when the mapping cannot address every position.
PaddedShape addressable_shape(const Operation& operation) {
  require_valid_layout(operation.layout);
  const PanelShape panel = panel_shape(operation.layout);
  const PaddedShape padded = padded_shape(panel, operation.rows, operation.columns);
  if (padded.elements() > max_buffer_elements) {
    operation.refuse("its blocked buffer of " + std::to_string(padded.rows) + " x " +
                     std::to_string(padded.columns) + " = " + std::to_string(padded.elements()) +
                     " elements is more than 65536");
  }
  // Family A and C panels span all rows; the mapping sizes a panel in 16 bits.
  const std::size_t panel_elements = std::size_t{padded.rows} * panel.columns;
  if (panel.rows == 0 && panel_elements > max_panel_elements) {
    operation.refuse("a panel of " + std::to_string(padded.rows) + " x " +
                     std::to_string(panel.columns) + " = " + std::to_string(panel_elements) +
                     " elements is more than the mapping addresses (65535)");
  }
  return padded;
}

// The same checks as checked_job with no message built; any failure goes to checked_job for
// the documented message.
PackJob validated_job(const Operation& operation, std::size_t row_stride,
                      std::span<const std::byte> matrix, std::span<const std::byte> buffer,
                      std::size_t element_bytes) {
  const auto layout = static_cast<std::size_t>(operation.layout);
  if (layout >= panel_shapes.size()) [[unlikely]] {
    return checked_job(operation, row_stride, matrix, buffer, element_bytes);
  }
  const PanelShape panel = panel_shapes[layout];
  const PaddedShape padded = padded_shape(panel, operation.rows, operation.columns);
  std::size_t matrix_elements = 0;
  const bool passes =
      padded.elements() <= max_buffer_elements &&
      (panel.rows != 0 || std::size_t{padded.rows} * panel.columns <= max_panel_elements) &&
      row_stride >= operation.columns &&
      matrix_extent(operation.rows, operation.columns, row_stride, matrix_elements) &&
      holds(matrix, matrix_elements, element_bytes) &&
      holds(buffer, padded.elements(), element_bytes) &&
      !overlap(matrix.data(), matrix_elements * element_bytes, buffer.data(),
               padded.elements() * element_bytes);
  if (!passes) [[unlikely]] {
    return checked_job(operation, row_stride, matrix, buffer, element_bytes);
  }
  return {operation.layout, operation.rows, operation.columns, padded.rows,
          padded.columns,   row_stride,     element_bytes};
}

}  // namespace zum_runtime::blocked_data
