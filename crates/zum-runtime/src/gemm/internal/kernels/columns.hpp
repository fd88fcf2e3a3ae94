#pragma once

#include <cstddef>

#include "gemm/internal/operands.hpp"

// The few-columns tile's definition, as the scalar loop the vector kernels (columns.inc)
// replace. op(B)'s out.columns columns come contiguous over k: column j at
// b_columns + j · b_stride.
namespace zum_runtime::gemm::kernels::scalar {

// c(i, j) ← alpha · Σ_{p < depth} a(i, p) · b(p, j) + beta · c(i, j), c read only when beta ≠ 0.
template <typename T>
void few_columns(StridedMatrix<T> a, const T* b_columns, size_t depth, size_t b_stride,
                 Output<T> out) {
  for (size_t i = 0; i < out.rows; ++i) {
    for (size_t j = 0; j < out.columns; ++j) {
      T sum{0};
      for (size_t p = 0; p < depth; ++p) sum += a.at(i, p) * b_columns[j * b_stride + p];
      T& c = out.c[i * out.row_stride + j];
      c = out.beta != T{0} ? out.alpha * sum + out.beta * c : out.alpha * sum;
    }
  }
}

}  // namespace zum_runtime::gemm::kernels::scalar
