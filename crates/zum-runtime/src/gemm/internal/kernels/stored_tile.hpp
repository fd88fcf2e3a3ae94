#pragma once

#include <cstddef>

#include "gemm/internal/kernels/packed_tile.hpp"
#include "gemm/internal/operands.hpp"

// The stored tiles' definitions, as the scalar loops the vector kernels (stored_tile.inc)
// replace: op(A) read where stored, against a packed op(B) (wide or narrow panels) or against
// op(B) read where stored.
namespace zum_runtime::gemm::kernels::scalar {

// `b_block`: op(B)'s depth × out.columns in family A panels of nr columns, each panel b_depth
// rows deep (depth padded to 16).
template <typename T>
void stored_a_tile(StridedMatrix<T> a, const T* b_block, size_t depth, size_t b_depth, size_t nr,
                   Output<T> out) {
  for (size_t i = 0; i < out.rows; ++i) {
    for (size_t j = 0; j < out.columns; ++j) {
      T sum{0};
      for (size_t p = 0; p < depth; ++p) sum += a.at(i, p) * packed_b(b_block, b_depth, nr, p, j);
      T& c = out.c[i * out.row_stride + j];
      c = out.beta != T{0} ? out.alpha * sum + out.beta * c : out.alpha * sum;
    }
  }
}

template <typename T>
void stored_tile(StridedMatrix<T> a, StridedMatrix<T> b, size_t depth, Output<T> out) {
  for (size_t i = 0; i < out.rows; ++i) {
    for (size_t j = 0; j < out.columns; ++j) {
      T sum{0};
      for (size_t p = 0; p < depth; ++p) sum += a.at(i, p) * b.at(p, j);
      T& c = out.c[i * out.row_stride + j];
      c = out.beta != T{0} ? out.alpha * sum + out.beta * c : out.alpha * sum;
    }
  }
}

}  // namespace zum_runtime::gemm::kernels::scalar
