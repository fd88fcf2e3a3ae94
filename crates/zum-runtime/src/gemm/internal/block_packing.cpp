#include "gemm/internal/block_packing.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "internal/pair_interleave.hpp"
#include "pack/packing.hpp"

namespace zum_runtime::gemm::driver {

using kernels::round_up;

template <typename T>
T* workspace(size_t slot, size_t elements) {
  struct Slot {
    std::unique_ptr<std::byte[], detail::AlignedDelete> bytes;
    size_t size = 0;
  };
  thread_local Slot slots[4];
  Slot& s = slots[slot];
  const size_t needed = elements * sizeof(T);
  if (s.size < needed) {
    s.bytes.reset(static_cast<std::byte*>(::operator new[](needed, std::align_val_t{64})));
    s.size = needed;
  }
  return reinterpret_cast<T*>(s.bytes.get());
}

template <typename T>
void scale(const Output<T>& out) {
  if (out.beta == T{1}) return;
  for (size_t row = 0; row < out.rows; ++row) {
    T* c_row = out.c + row * out.row_stride;
    for (size_t column = 0; column < out.columns; ++column) {
      c_row[column] = out.beta == T{0} ? T{0} : out.beta * c_row[column];
    }
  }
}

// op(A)'s rows × depth block from (row, depth_start) into a KivB8x16 buffer.
template <typename T>
void pack_a(const Problem<T>& p, size_t row, size_t depth_start, size_t rows, size_t depth,
            T* buffer) {
  const StridedMatrix<T> from = op_a(p).offset(row, depth_start);
  if (p.transpose_a == Transpose::yes) {
    kernels::pack_channels(from, rows, depth, buffer);
    return;
  }
  const size_t elements = round_up(rows, 8) * round_up(depth, 16);
  blocked_data::pack<T>(blocked_data::BlockLayout::KivB8x16, static_cast<std::uint16_t>(rows),
                        static_cast<std::uint16_t>(depth),
                        std::span(from.data, (rows - 1) * p.a_row_stride + depth), p.a_row_stride,
                        std::span(buffer, elements));
}

// op(B)'s depth × columns block into a family A buffer of nr-column panels, its depth padded
// to 16 with zero rows. An untransposed B of whole groups is exactly what pack writes.
template <typename T>
void pack_b(const Problem<T>& p, const PathKernels<T>& kernels, size_t depth_start, size_t column,
            size_t depth, size_t columns, const kernels::Tile& tile, T* buffer) {
  const StridedMatrix<T> from = op_b(p).offset(depth_start, column);
  if (p.transpose_b == Transpose::yes || depth % 16 != 0) {
    kernels.pack_panels(from, depth, columns, tile.nr, buffer);
    return;
  }
  const size_t elements = depth * round_up(columns, tile.nr);
  blocked_data::pack<T>(tile.b_layout, static_cast<std::uint16_t>(depth),
                        static_cast<std::uint16_t>(columns),
                        std::span(from.data, (depth - 1) * p.b_row_stride + columns),
                        p.b_row_stride, std::span(buffer, elements));
}

// The packed block of op(B) at (depth_start, column): from the problem's packed B, or packed
// now into `buffer`.
template <typename T>
const T* b_block(const Problem<T>& p, const PathKernels<T>& kernels, size_t depth_start,
                 size_t column, size_t depth, size_t columns, const kernels::Tile& tile,
                 T* buffer) {
  if (!is_packed(p)) {
    pack_b(p, kernels, depth_start, column, depth, columns, tile, buffer);
    return buffer;
  }
  const PackedView<T>& packed = p.packed_b;
  return packed.data + depth_start * packed.padded_columns +
         (packed.first_column + column) * round_up(depth, 16);
}

template std::uint32_t* workspace<std::uint32_t>(size_t, size_t);

#define ZUM_INSTANTIATE(T)                                                                       \
  template T* workspace<T>(size_t, size_t);                                                      \
  template void scale<T>(const Output<T>&);                                                      \
  template void pack_a<T>(const Problem<T>&, size_t, size_t, size_t, size_t, T*);                \
  template void pack_b<T>(const Problem<T>&, const PathKernels<T>&, size_t, size_t, size_t,      \
                          size_t, const kernels::Tile&, T*);                                     \
  template const T* b_block<T>(const Problem<T>&, const PathKernels<T>&, size_t, size_t, size_t, \
                               size_t, const kernels::Tile&, T*);
ZUM_INSTANTIATE(float)
ZUM_INSTANTIATE(double)
#undef ZUM_INSTANTIATE

}  // namespace zum_runtime::gemm::driver

namespace zum_runtime::gemm::kernels {

using blocked_data::pair_interleave::column_of_stored;

template <typename T>
void pack_channels(StridedMatrix<T> a, size_t rows, size_t depth, T* buffer) {
  constexpr size_t mr = 8;
  const size_t row_groups = (rows + mr - 1) / mr;
  for (size_t group = 0; group < round_up(depth, 16) / 16; ++group) {
    for (size_t row_group = 0; row_group < row_groups; ++row_group) {
      for (size_t channel = 0; channel < 16; ++channel, buffer += mr) {
        const size_t column = group * 16 + column_of_stored[channel];
        const size_t first_row = row_group * mr;
        if (column < depth && first_row + mr <= rows) {
          for (size_t r = 0; r < mr; ++r) buffer[r] = a.at(first_row + r, column);
          continue;
        }
        for (size_t r = 0; r < mr; ++r) {
          buffer[r] = first_row + r < rows && column < depth ? a.at(first_row + r, column) : T{0};
        }
      }
    }
  }
}

// Row by row, element by element: the definition the path kernels are held to.
template <typename T>
void pack_rows(StridedMatrix<T> b, size_t depth, size_t columns, size_t nr, T* buffer) {
  const size_t padding = (round_up(depth, 16) - depth) * nr;
  for (size_t panel = 0; panel < columns; panel += nr) {
    const size_t width = std::min(nr, columns - panel);
    for (size_t p = 0; p < depth; ++p, buffer += nr) {
      for (size_t j = 0; j < width; ++j) buffer[j] = b.at(p, panel + j);
      std::fill(buffer + width, buffer + nr, T{0});
    }
    std::fill(buffer, buffer + padding, T{0});
    buffer += padding;
  }
}

template void pack_channels<float>(StridedMatrix<float>, size_t, size_t, float*);
template void pack_channels<double>(StridedMatrix<double>, size_t, size_t, double*);
template void pack_rows<float>(StridedMatrix<float>, size_t, size_t, size_t, float*);
template void pack_rows<double>(StridedMatrix<double>, size_t, size_t, size_t, double*);

}  // namespace zum_runtime::gemm::kernels
