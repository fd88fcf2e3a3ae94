#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <utility>

#include "simd/internal/vectors.hpp"

// The two directions a walk moves panel pieces in: from the matrix into the buffer (Packing)
// and back (Unpacking). A walk says where each piece lies; the direction moves it through the
// panel kernel. Offsets are in elements.
namespace zum_runtime::blocked_data::kernels {

// The kernels are written in the vector vocabulary.
using namespace simd;

inline constexpr size_t cache_line_bytes = 64;

// Kernels that can hand over a row as a register value, as stored or as in the matrix.
template <typename Panel>
concept HoldsRows = requires(const std::byte* from) {
  Panel::packed(from);
  Panel::unpacked(from);
};

// Whether two such rows fill at most one register: then the walks move them with one
// full-width store instead of two narrower ones.
template <typename Panel, size_t vector_bytes>
constexpr bool pairs_rows() {
  if constexpr (HoldsRows<Panel>) {
    return 2 * sizeof(typename Panel::Row) <= vector_bytes;
  } else {
    return false;
  }
}

// Pieces of the matrix packed into the buffer. Offsets are in elements.
template <typename Word, typename Panel, size_t vector_bytes>
struct Packing {
  const std::byte* matrix;
  std::byte* buffer;
  size_t row_stride;

  ZUM_KERNEL void whole(size_t matrix_element, size_t buffer_element) const {
    Panel::pack(matrix + matrix_element * sizeof(Word), row_stride,
                buffer + buffer_element * sizeof(Word));
  }

  ZUM_KERNEL void partial(size_t matrix_element, size_t buffer_element, size_t valid_rows,
                          size_t valid_columns) const {
    std::array<std::byte, Panel::rows * Panel::columns * sizeof(Word)> piece{};
    for (size_t row = 0; row < valid_rows; ++row) {
      std::memcpy(piece.data() + row * Panel::columns * sizeof(Word),
                  matrix + (matrix_element + row * row_stride) * sizeof(Word),
                  valid_columns * sizeof(Word));
    }
    Panel::pack(piece.data(), Panel::columns, buffer + buffer_element * sizeof(Word));
  }

  // `count` consecutive rows of one panel (an even number), which lie together in the buffer:
  // all read before any is written, and two rows in one store where they fit a register.
  template <size_t count>
  ZUM_KERNEL void rows(size_t matrix_element, size_t buffer_element) const {
    if constexpr (pairs_rows<Panel, vector_bytes>()) {
      using Pair = Vector<Word, 2 * Panel::columns>;
      std::array<Pair, count / 2> pairs;
      for (size_t pair = 0; pair < count / 2; ++pair) {
        const std::byte* first = matrix + (matrix_element + 2 * pair * row_stride) * sizeof(Word);
        pairs[pair] =
            side_by_side(Panel::packed(first), Panel::packed(first + row_stride * sizeof(Word)),
                         std::make_index_sequence<2 * Panel::columns>{});
      }
      for (size_t pair = 0; pair < count / 2; ++pair) {
        store(buffer + (buffer_element + 2 * pair * Panel::columns) * sizeof(Word), pairs[pair]);
      }
    } else {
      for (size_t row = 0; row < count; ++row) {
        whole(matrix_element + row * row_stride, buffer_element + row * Panel::columns);
      }
    }
  }
};

// Pieces of the buffer unpacked into the matrix.
template <typename Word, typename Panel, size_t vector_bytes>
struct Unpacking {
  const std::byte* buffer;
  std::byte* matrix;
  size_t row_stride;

  ZUM_KERNEL void whole(size_t matrix_element, size_t buffer_element) const {
    Panel::unpack(buffer + buffer_element * sizeof(Word), matrix + matrix_element * sizeof(Word),
                  row_stride);
  }

  // `count` panel rows that lie together in the buffer: all read, as many at a time as eight
  // registers hold, before any is written, so no read waits on a write that merely shares its
  // address bits within a page.
  template <size_t count>
  ZUM_KERNEL void whole_rows(size_t matrix_element, size_t buffer_element) const {
    using PanelRow = Vector<Word, Panel::columns>;
    if constexpr (sizeof(PanelRow) > vector_bytes) {
      // A row wider than a register would be held in memory anyway: moved a row at a time.
      for (size_t row = 0; row < count; ++row) {
        whole(matrix_element + row * row_stride, buffer_element + row * Panel::columns);
      }
    } else {
      constexpr size_t batch = std::clamp<size_t>(8 * vector_bytes / sizeof(PanelRow), 1, count);
      for (size_t first = 0; first < count; first += batch) {
        std::array<PanelRow, batch> panel_rows;
        for (size_t row = 0; row < batch; ++row) {
          const size_t element = buffer_element + (first + row) * Panel::columns;
          panel_rows[row] = load<PanelRow>(buffer + element * sizeof(Word));
        }
        for (size_t row = 0; row < batch; ++row) {
          const size_t element = matrix_element + (first + row) * row_stride;
          Panel::unpack(reinterpret_cast<const std::byte*>(&panel_rows[row]),
                        matrix + element * sizeof(Word), row_stride);
        }
      }
    }
  }

  ZUM_KERNEL void partial(size_t matrix_element, size_t buffer_element, size_t valid_rows,
                          size_t valid_columns) const {
    std::array<std::byte, Panel::rows * Panel::columns * sizeof(Word)> piece;
    Panel::unpack(buffer + buffer_element * sizeof(Word), piece.data(), Panel::columns);
    for (size_t row = 0; row < valid_rows; ++row) {
      std::memcpy(matrix + (matrix_element + row * row_stride) * sizeof(Word),
                  piece.data() + row * Panel::columns * sizeof(Word), valid_columns * sizeof(Word));
    }
  }

  // `count` rows of two neighbouring panels, whose rows lie together in the matrix: all read
  // before any is written, and a row of both in one store where they fit a register.
  template <size_t count>
  ZUM_KERNEL void two_panels(size_t matrix_element, size_t buffer_element,
                             size_t second_buffer_element) const {
    if constexpr (pairs_rows<Panel, vector_bytes>()) {
      using Pair = Vector<Word, 2 * Panel::columns>;
      std::array<Pair, count> pairs;
      for (size_t row = 0; row < count; ++row) {
        const size_t offset = row * Panel::columns;
        pairs[row] =
            side_by_side(Panel::unpacked(buffer + (buffer_element + offset) * sizeof(Word)),
                         Panel::unpacked(buffer + (second_buffer_element + offset) * sizeof(Word)),
                         std::make_index_sequence<2 * Panel::columns>{});
      }
      for (size_t row = 0; row < count; ++row) {
        store(matrix + (matrix_element + row * row_stride) * sizeof(Word), pairs[row]);
      }
    } else {
      for (size_t row = 0; row < count; ++row) {
        whole(matrix_element + row * row_stride, buffer_element + row * Panel::columns);
        whole(matrix_element + row * row_stride + Panel::columns,
              second_buffer_element + row * Panel::columns);
      }
    }
  }
};

}  // namespace zum_runtime::blocked_data::kernels
