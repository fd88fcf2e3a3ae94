#pragma once

#include <cstddef>

#include "gemm/internal/operands.hpp"
#include "internal/pair_interleave.hpp"

// The packed tile's definition, as the scalar loop the vector kernel (packed_tile.inc) replaces.
namespace zum_runtime::gemm::kernels::scalar {

// `a_block`: op(A)'s out.rows (padded to mr) × padded_depth in family B panels of mr rows, per
// group of 16 k columns the row groups side by side, each stored channel's mr rows contiguous.
// `b_block`: op(B)'s padded_depth × out.columns in family A panels of nr columns, each row p
// of a panel nr elements. padded_depth is depth rounded up to 16.
template <typename T>
T packed_a(const T* a_block, size_t rows, size_t mr, size_t i, size_t p) {
  using blocked_data::pair_interleave::stored_of_column;
  const size_t group_stride = (rows + mr - 1) / mr * mr * 16;
  return a_block[p / 16 * group_stride + i / mr * mr * 16 + stored_of_column[p % 16] * mr + i % mr];
}

template <typename T>
T packed_b(const T* b_block, size_t padded_depth, size_t nr, size_t p, size_t j) {
  return b_block[j / nr * nr * padded_depth + p * nr + j % nr];
}

// c(i, j) ← alpha · Σ_{p < depth} a(i, p) · b(p, j) + beta · c(i, j), c read only when beta ≠ 0.
template <typename T>
void packed_tile(const T* a_block, const T* b_block, size_t depth, size_t padded_depth, size_t mr,
                 size_t nr, Output<T> out) {
  for (size_t i = 0; i < out.rows; ++i) {
    for (size_t j = 0; j < out.columns; ++j) {
      T sum{0};
      for (size_t p = 0; p < depth; ++p) {
        sum += packed_a(a_block, out.rows, mr, i, p) * packed_b(b_block, padded_depth, nr, p, j);
      }
      T& c = out.c[i * out.row_stride + j];
      c = out.beta != T{0} ? out.alpha * sum + out.beta * c : out.alpha * sum;
    }
  }
}

}  // namespace zum_runtime::gemm::kernels::scalar
