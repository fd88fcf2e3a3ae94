#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "blocked_data.hpp"
#include "pack_kernels.hpp"

// The GEMM's micro-kernels and the loops around them, one set per instruction-set path.
// Internal: gemm.cpp validates a call, packs its operands and hands blocks to the kernels of
// the fastest path the processor runs; the tests run every path.
namespace zum_runtime::gemm::kernels {

using blocked_data::BlockLayout;
using blocked_data::kernels::SimdPath;
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

// A micro-tile: op(A) packed into `a_layout` (mr rows a panel), op(B) into `b_layout` (nr
// columns a panel); the kernel covers mr rows in passes of `pass_rows`.
struct Tile {
  BlockLayout a_layout;
  BlockLayout b_layout;
  size_t mr;
  size_t nr;
  size_t pass_rows;
};

template <typename T>
struct PathKernels {
  Tile wide;    // packed blocks, and op(B) read where stored
  Tile narrow;  // op(A) read where stored, against a packed op(B) of few columns
  // One packed block pair: `a_block` a family B buffer of output.rows (padded to mr) × depth,
  // `b_block` a family A buffer of depth × output.columns (padded to nr); depth is a multiple
  // of 16 and both are zero-padded.
  void (*packed)(const T* a_block, const T* b_block, size_t depth, Output<T> output);
  // op(A) read where stored; `b_block` a family A buffer, nr columns a panel (wide or narrow),
  // of depth rows padded to `b_depth` (a multiple of 16).
  void (*stored_a_wide)(StridedMatrix<T> a, const T* b_block, size_t depth, size_t b_depth,
                        Output<T> output);
  void (*stored_a_narrow)(StridedMatrix<T> a, const T* b_block, size_t depth, size_t b_depth,
                          Output<T> output);
  // Both read where stored; op(B) untransposed, output.columns a multiple of wide.nr.
  void (*stored)(StridedMatrix<T> a, StridedMatrix<T> b, size_t depth, Output<T> output);
  // Both read where stored, op(B) untransposed and streamed through once in stored order,
  // accumulating into C, which must already hold beta · C.
  void (*sweep)(StridedMatrix<T> a, StridedMatrix<T> b, size_t depth, Output<T> output);
  // pack_rows for a transposed op(B) (row_step 1), turning blocks over in registers.
  void (*pack_transposed_rows)(StridedMatrix<T> b, size_t depth, size_t columns, size_t nr,
                               T* buffer);
};

// The paths this processor runs the GEMM on, the portable one first and the fastest last.
std::span<const SimdPath> runnable_paths();

template <typename T>
const PathKernels<T>& path_kernels(SimdPath path);

// op(A)'s `rows` × `depth` block into a family B buffer of 8-row panels (rows padded to 8,
// depth to 16, zeros in the padding), and op(B)'s `depth` × `columns` block into a family A
// buffer of `nr`-column panels (depth padded to 16, columns to nr).
template <typename T>
void pack_channels(StridedMatrix<T> a, size_t rows, size_t depth, T* buffer);
template <typename T>
void pack_rows(StridedMatrix<T> b, size_t depth, size_t columns, size_t nr, T* buffer);

constexpr size_t round_up(size_t value, size_t multiple) {
  return (value + multiple - 1) / multiple * multiple;
}

}  // namespace zum_runtime::gemm::kernels
