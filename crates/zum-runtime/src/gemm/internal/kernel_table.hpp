#pragma once

#include <cstddef>
#include <span>

#include "gemm/internal/operands.hpp"
#include "gemm/internal/tiles.hpp"
#include "simd/internal/paths.hpp"

// The GEMM's micro-kernels as the loops see them: one row of entry points per instruction-set
// path. Internal: the loops hand blocks to the kernels of the fastest path the processor runs;
// the tests run every path.
namespace zum_runtime::gemm::kernels {

using simd::SimdPath;

template <typename T>
struct PathKernels {
  KernelSet set;
  Tile wide;    // packed blocks, and op(B) read where stored
  Tile narrow;  // op(A) read where stored, against a packed op(B) of few columns
  // One packed block pair: `a_block` a family B buffer of output.rows (padded to mr) × depth,
  // `b_block` a family A buffer of depth × output.columns (padded to nr), both with depth
  // padded to `padded_depth` (a multiple of 16) and zero-padded; only depth steps are run.
  void (*packed)(const T* a_block, const T* b_block, size_t depth, size_t padded_depth,
                 Output<T> output);
  // op(A) read where stored; `b_block` a family A buffer, nr columns a panel (wide or narrow),
  // of depth rows padded to `b_depth` (a multiple of 16).
  void (*stored_a_wide)(StridedMatrix<T> a, const T* b_block, size_t depth, size_t b_depth,
                        Output<T> output);
  void (*stored_a_narrow)(StridedMatrix<T> a, const T* b_block, size_t depth, size_t b_depth,
                          Output<T> output);
  // Both read where stored; op(B) untransposed, in wide panels, the last one loaded masked.
  void (*stored)(StridedMatrix<T> a, StridedMatrix<T> b, size_t depth, Output<T> output);
  // The same in narrow panels, as a packed B of as few columns holds them.
  void (*stored_narrow)(StridedMatrix<T> a, StridedMatrix<T> b, size_t depth, Output<T> output);
  // Both read where stored, op(B) untransposed and streamed through once in stored order,
  // accumulating into C, which must already hold beta · C.
  void (*sweep)(StridedMatrix<T> a, StridedMatrix<T> b, size_t depth, Output<T> output);
  // op(A) read where stored against op(B)'s output.columns ≤ max_few_columns columns, column j
  // contiguous at b_columns + j · b_stride (depth elements read of each).
  void (*few_columns)(StridedMatrix<T> a, const T* b_columns, size_t depth, size_t b_stride,
                      Output<T> output);
  // pack_rows in vectors: a transposed op(B) (row_step 1) turned over in registers, an
  // untransposed one (column_step 1) a vector of a row at a time.
  void (*pack_panels)(StridedMatrix<T> b, size_t depth, size_t columns, size_t nr, T* buffer);
};

// The paths this processor runs the GEMM on, the portable one first and the fastest last.
std::span<const SimdPath> runnable_paths();

template <typename T>
const PathKernels<T>& path_kernels(SimdPath path);

// The entry points of each kernel set, compiled in translation units of their own: one per
// set, element type and kernel idea (kernels/*.cpp).
namespace portable {
#include "gemm/internal/kernels/entry_points.inc"
}  // namespace portable
#if ZUM_X86_64
namespace avx2 {
#include "gemm/internal/kernels/entry_points.inc"
}  // namespace avx2
namespace avx512 {
#include "gemm/internal/kernels/entry_points.inc"
}  // namespace avx512
#endif

}  // namespace zum_runtime::gemm::kernels
