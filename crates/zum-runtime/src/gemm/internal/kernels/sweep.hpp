#pragma once

#include <cstddef>

#include "gemm/internal/operands.hpp"

// The sweep's definition, as the scalar loop the vector kernel (sweep.inc) replaces: each row of
// C accumulates in place, into a C that already holds beta · C.
namespace zum_runtime::gemm::kernels::scalar {

template <typename T>
void sweep(StridedMatrix<T> a, StridedMatrix<T> b, size_t depth, Output<T> out) {
  for (size_t i = 0; i < out.rows; ++i) {
    for (size_t p = 0; p < depth; ++p) {
      const T scaled = out.alpha * a.at(i, p);
      for (size_t j = 0; j < out.columns; ++j) out.c[i * out.row_stride + j] += scaled * b.at(p, j);
    }
  }
}

}  // namespace zum_runtime::gemm::kernels::scalar
