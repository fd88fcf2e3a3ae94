#pragma once

#include <algorithm>
#include <cstddef>

#include "gemm/internal/driver.hpp"

// The operands as the loops around the kernels see them: where op(A), op(B) and C are, and
// their blocks packed into the kernels' layouts. Internal.
namespace zum_runtime::gemm::driver {

using kernels::Output;
using kernels::PathKernels;
using kernels::StridedMatrix;
using std::size_t;

template <typename T, typename In>
StridedMatrix<In> op_a(const Problem<T, In>& p) {
  return p.transpose_a == Transpose::no ? StridedMatrix<In>{p.a.data(), p.a_row_stride, 1}
                                        : StridedMatrix<In>{p.a.data(), 1, p.a_row_stride};
}
template <typename T, typename In>
StridedMatrix<In> op_b(const Problem<T, In>& p) {
  return p.transpose_b == Transpose::no ? StridedMatrix<In>{p.b.data(), p.b_row_stride, 1}
                                        : StridedMatrix<In>{p.b.data(), 1, p.b_row_stride};
}
template <typename T>
Output<T> output(const Problem<T>& p) {
  return {p.c.data(), p.c_row_stride, p.m, p.n, p.alpha, p.beta};
}
template <typename T, typename In>
bool is_packed(const Problem<T, In>& p) {
  return p.packed_b.data != nullptr;
}

// C ← beta · C, reading C only when beta is not 0.
template <typename T>
void scale(const Output<T>& out);

// This thread's workspace `slot`, grown to at least `elements`, 64-byte aligned: slots 0 and 1
// for the ways' packed blocks, 2 and 3 for the bfloat16 operands widened before them.
template <typename T>
T* workspace(size_t slot, size_t elements);

// op(A)'s rows × depth block from (row, depth_start) into a KivB8x16 buffer.
template <typename T>
void pack_a(const Problem<T>& p, size_t row, size_t depth_start, size_t rows, size_t depth,
            T* buffer);

// op(B)'s depth × columns block into a family A buffer of the tile's panels, its depth padded
// to 16 with zero rows.
template <typename T>
void pack_b(const Problem<T>& p, const PathKernels<T>& kernels, size_t depth_start, size_t column,
            size_t depth, size_t columns, const kernels::Tile& tile, T* buffer);

// The packed block of op(B) at (depth_start, column): from the problem's packed B, or packed
// now into `buffer`.
template <typename T>
const T* b_block(const Problem<T>& p, const PathKernels<T>& kernels, size_t depth_start,
                 size_t column, size_t depth, size_t columns, const kernels::Tile& tile, T* buffer);

// Steps over k in slabs of kc; every slab after the first adds to what C holds.
template <typename T, typename Slab>
void for_each_slab(const Problem<T>& p, size_t kc, Slab slab) {
  Output<T> out = output(p);
  for (size_t depth_start = 0; depth_start < p.k; depth_start += kc) {
    slab(depth_start, std::min(kc, p.k - depth_start), out);
    out.beta = T{1};
  }
}

}  // namespace zum_runtime::gemm::driver

namespace zum_runtime::gemm::kernels {

// The portable packers, the definitions the vector ones are tested against. op(A)'s `rows` ×
// `depth` block into a family B buffer of 8-row panels (rows padded to 8, depth to 16, zeros in
// the padding), and op(B)'s `depth` × `columns` block into a family A buffer of `nr`-column
// panels (depth padded to 16, columns to nr).
template <typename T>
void pack_channels(StridedMatrix<T> a, size_t rows, size_t depth, T* buffer);
template <typename T>
void pack_rows(StridedMatrix<T> b, size_t depth, size_t columns, size_t nr, T* buffer);

}  // namespace zum_runtime::gemm::kernels
