#pragma once

#include <cstddef>

// How the GEMM's loops and kernels see their operands: a matrix where it is stored, and the
// block of C a kernel writes. Internal.
namespace zum_runtime::gemm::kernels {

using std::size_t;

// A matrix where it is stored: element (i, j) is data[i * row_step + j * column_step]. op(A)
// and op(B) are both seen this way, whether transposed or not.
template <typename T>
struct StridedMatrix {
  const T* data;
  size_t row_step;
  size_t column_step;

  const T& at(size_t row, size_t column) const {
    return data[row * row_step + column * column_step];
  }
  StridedMatrix offset(size_t row, size_t column) const {
    return {&at(row, column), row_step, column_step};
  }
};

// Where a block of results goes: C ← alpha · product + beta · C over the `rows` × `columns`
// elements from `c` on. A beta of 0 writes C without reading it.
template <typename T>
struct Output {
  T* c;
  size_t row_stride;
  size_t rows;
  size_t columns;
  T alpha;
  T beta;

  Output offset(size_t row, size_t column) const {
    return {c + row * row_stride + column, row_stride, rows - row, columns - column, alpha, beta};
  }
  Output shape(size_t block_rows, size_t block_columns) const {
    return {c, row_stride, block_rows, block_columns, alpha, beta};
  }
};

constexpr size_t round_up(size_t value, size_t multiple) {
  return (value + multiple - 1) / multiple * multiple;
}

}  // namespace zum_runtime::gemm::kernels
