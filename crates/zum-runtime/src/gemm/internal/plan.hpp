#pragma once

#include <algorithm>
#include <cstddef>

#include "gemm/internal/driver.hpp"

// How a call runs: the block sizes, the measured switch points between the ways of running,
// and the plan they make. Internal.
namespace zum_runtime::gemm::driver {

using kernels::PathKernels;
using std::size_t;

// Block sizes. A packed block holds at most 65,536 elements, the mapping's limit; kc is a
// whole number of 16-column groups.
struct Blocking {
  size_t kc;  // depth of a packed block
  size_t mc;  // rows of op(A) in a family B block
  size_t nc;  // columns of op(B) in a family A block
};
template <typename T>
inline constexpr Blocking blocking{256, 256, 256};
template <>
inline constexpr Blocking blocking<double>{256, 128, 256};

constexpr bool fits_mapping(Blocking sizes) {
  return sizes.kc % 16 == 0 && sizes.kc * sizes.mc <= 65536 && sizes.kc * sizes.nc <= 65536;
}
static_assert(fits_mapping(blocking<float>) && fits_mapping(blocking<double>));

// The running core's L2 cache in bytes, read once; 1 MiB where the system does not say.
size_t l2_cache_bytes();

// The columns of op(B) in a block as an L2 of `l2_bytes` takes them: a kc-deep block fills at
// most half of it, in whole multiples of 64 columns, from 64 up to blocking<T>.nc (the
// mapping's limit). Results do not depend on it: each element's sum runs the same steps.
template <typename T>
constexpr size_t block_columns_for(size_t l2_bytes) {
  const size_t fitting = l2_bytes / 2 / (blocking<T>.kc * sizeof(T)) / 64 * 64;
  return std::clamp<size_t>(fitting, 64, blocking<T>.nc);
}
// The block sizes for the running core: blocking<T> with its columns as its L2 takes them.
template <typename T>
Blocking block_sizes();

// Shape switches. Up to swept_rows_limit rows of op(A), an untransposed B of more columns than
// a narrow panel streams through once; up to stored_rows_limit rows, both operands are read
// where stored however deep k is (a B read once per 8 rows beats packing it), and beyond them
// with all of op(B) in half the L2; up to stored_a_columns_limit columns of op(B), only op(B)
// is packed (op(A) read where stored beats packing an A that few columns reuse).
constexpr size_t swept_rows_limit = 6;
// Past this many rows, B sweeps only when it does not fit in half the L2; both where stored run
// faster against a B that fits (4 × 300 × 300: 154 GFLOPS, 95 swept; 4 × 1024 × 1024: 55, 88
// swept).
constexpr size_t swept_small_b_rows_limit = 3;
constexpr size_t stored_rows_limit = 16;
// All of n in one narrow panel, both are read where stored up to this many rows (77 × 7 × 4:
// 30 GFLOPS so, 26 with B packed; 1024 × 8 × 1024: 74 so, 82 packed).
constexpr size_t stored_narrow_rows_limit = 128;
constexpr size_t stored_a_columns_limit = 128;
// Shallower than one group of k, op(A) is not packed whatever n is: its block pads k to 16, and
// C's writes outweigh any reuse (484 × 204 × 2 with B transposed: 34 GFLOPS packed, 44 not).
constexpr size_t packed_a_depth = 16;
// Shallower than this, a transposed B is turned into rows element by element rather than
// packed in vector transposes padded to 16 deep (skinny.cpp): 13 × 178 × 3 took 463 ns
// gathered, 633 packed; 15 × 144 × 6 660 gathered, 576 packed; 10 × 125 × 15 1040, 589.
constexpr size_t gathered_rows_depth = 6;
static_assert(gathered_rows_depth <= blocking<float>.kc &&
              gathered_rows_depth <= blocking<double>.kc);
template <typename T>
bool gathers_rows(const Problem<T>& p) {
  return p.transpose_b == Transpose::yes && p.packed_b.data == nullptr && p.k < gathered_rows_depth;
}
// Up to few_columns_limit columns of op(B), the few-columns tiles beat a panel of mostly idle
// lanes.
constexpr size_t few_columns_limit = 4;
static_assert(few_columns_limit <= kernels::max_few_columns);
// Dot products along k pay a fold of their partial sums each result; a narrow panel, one
// multiply-add a step for all the columns. The dot products win from this depth on, by the
// number of columns (200 × n × k, one core: n = 2 from 16, n = 3 from 48, n = 4 from 96).
constexpr size_t dot_products_depth[few_columns_limit + 1] = {0, 0, 16, 48, 96};
// Where 512-bit vectors run in halves (Zen 4), a narrow panel's multiply-add a row costs twice as
// much, and the dot products win sooner (200 × n × k: n = 2 always, n = 3 from 24, n = 4 from
// 32; 1000 × 2 × 1: 776 ns, 1239 in a narrow panel).
constexpr size_t halved_vectors_dot_products_depth[few_columns_limit + 1] = {0, 0, 1, 24, 32};
// Whether the kernels run 512-bit vectors on a core that runs them in halves.
template <typename T>
bool halves_vectors(const PathKernels<T>& kernels) {
  return kernels.set == kernels::KernelSet::avx512 && simd::processor_halves_512_bit_vectors();
}
// The depth from which n ≤ few_columns_limit columns run as dot products on this processor.
template <typename T>
size_t dot_products_from(size_t n, const PathKernels<T>& kernels) {
  return halves_vectors(kernels) ? halved_vectors_dot_products_depth[n] : dot_products_depth[n];
}
// Where vectors run in halves, up to swept_small_b_rows_limit rows are read where stored, not
// swept, against an op(B) of up to this many bytes and more than one row: the sweep's
// additions into C cost more than reading B's vectors once for all the rows (2 × 106 × 83: 529
// ns, 695 swept; 1 × 45 × 108: 261, 386; 2 × 137 × 272, 149 KiB: 2568, 2395).
constexpr size_t halved_vectors_stored_small_b_bytes = size_t{64} << 10;
// A transposed B holds its columns contiguous already: no copy, and for few rows the dot
// products win at any depth (18 × 2 × 6 B^T: 58 ns, 110 packed in a narrow panel; 2 × 4 × 14:
// 36 and 92; 40 × 4 × 3: 138 and 74).
constexpr size_t few_columns_transposed_b_rows_limit = 24;
constexpr size_t few_columns_small_rows_least = 8;
// Up to this many rows of an untransposed A against a transposed B deep enough, every result is
// a dot product of two rows contiguous over k, a few columns at a time: packing B into panels
// costs more than so few rows reuse it (2 × 17 × 406 B^T: 2508 ns packed, 778 so). Deep enough
// is from 32 for up to two rows, from 80 for more (2 × 39 × 49: 729, 482; 4 × 64 × 64: 1050,
// 1122; 5 × 33 × 80: 923, 725; 8 × 100 × 100: 3760, 3353).
constexpr size_t transposed_b_dot_rows_limit = 8;
constexpr size_t transposed_b_dot_depth_two_rows = 32;
constexpr size_t transposed_b_dot_depth = 80;

// Up to small_multiply_adds multiply-adds, a call is summed result by result: there is too
// little to pay for packing or a kernel's set-up (ways table: 4 × 4 × 3 at 3.2 GFLOPS summed,
// 2.5 swept; 9 × 6 × 3 at 3.4 summed, 4.6 both where stored). So are up to small_results
// results against an untransposed B, whose rows give a row's results a 16-byte vector at a
// time, up to small_vector_multiply_adds of them (3 × 4 × 25, 75: 94 -> 71 ns; 1 × 16 × 5, 20:
// 66 -> 39; 4 × 4 × 32, 128: 77 -> 103), and no deeper than small_depth: each result is a
// chain of k additions (1 × 1 × 80 as one took 75 ns, as a dot product 45).
constexpr size_t small_multiply_adds = 64;
constexpr size_t small_results = 16;
constexpr size_t small_vector_multiply_adds = 80;
constexpr size_t small_depth = 32;
// The lanes of the 16-byte vectors small calls sum in.
template <typename T>
constexpr size_t small_lanes = 16 / sizeof(T);

// How a problem runs, decided once from the whole problem so that every thread's part of it
// runs the same way.
struct Plan {
  Strategy strategy;
  bool narrow_panels;  // op(B)'s panels have the narrow tile's columns
};

template <typename T>
Plan chosen_plan(const Problem<T>& problem, const PathKernels<T>& kernels);

// The problem with a transposed operand that is one row untransposed: op(A) of one row whose
// elements are one apart, and op(B) one deep. With copy_b_row, the row of a transposed B is
// copied into this thread's workspace unless its elements are one apart already (or B is
// packed, holding op(B) either way); without, the shape alone changes, for describing the run.
template <typename T>
bool has_transposed_row(const Problem<T>& problem);
template <typename T>
Problem<T> rows_untransposed(Problem<T> problem, bool copy_b_row);

// The last columns of op(B) that a plan in panels leaves to the few-columns tiles (plan.cpp); 0
// for none.
template <typename T>
size_t few_last_columns(const Problem<T>& problem, const PathKernels<T>& kernels, const Plan& plan);

// Runs (a thread's part of) a problem the way the plan says.
template <typename T>
void run_plan(const Problem<T>& problem, const PathKernels<T>& kernels, const Plan& plan);

}  // namespace zum_runtime::gemm::driver
