#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "base/bfloat16.hpp"
#include "gemm/internal/operands.hpp"

// The bfloat16 dot-product tile: AVX-512 BF16's vdpbf16ps multiplies one pair of bfloat16 per
// 32-bit lane and adds both products to a float, so both packed operands hold pairs of
// consecutive k side by side, one 32-bit word per pair (element 2p in the low half, 2p + 1 in
// the high). The library's blocked layouts keep pairs of columns side by side too (the pair
// interleave of families B and C, KivC16F16), but in 16-element groups of k: the kernel would
// read them in the interleaved order and pack every edge through the mapping, where a panel of
// pair words packs with plain loads and stores. So the panels below are the kernels' own:
//
//   A panel (mr rows):    word[p · mr + i]     = (a(i, 2p), a(i, 2p + 1))
//   B panel (nr columns): word[p · nr + j]     = (b(2p, j), b(2p + 1, j))
//   a block:  its panels one after another, rows padded to mr with zero words
//   b block:  its panels one after another, columns padded to nr with zero words
//
// with p < pairs = ⌈depth / 2⌉ and a zero high half past an odd depth. The tile loads B's
// pair words as vectors (16 columns a register) and broadcasts A's, so its accumulators run
// along n and store straight into row-major C.
namespace zum_runtime::gemm::kernels::bf16_dot {

using std::size_t;
using word = std::uint32_t;

// 12 rows × 2 vectors: 24 accumulators of AVX-512's 32 registers, with room for B's two
// vectors and a broadcast.
inline constexpr size_t mr = 12;
inline constexpr size_t nr = 32;

constexpr size_t pairs_of(size_t depth) {
  return (depth + 1) / 2;
}

// The stored tile: both operands read where they are stored, op(B) untransposed, for a few rows
// of op(A), where packing B would cost more than the multiply. Its sums run the pairs in the
// same order as the packed tile's, so it gives the same bits.
inline constexpr size_t stored_rows = 4;
inline constexpr size_t stored_columns = 1024;

// The kernels of one path.
struct DotKernels {
  // c(i, j) ← alpha · Σ_p dot(a pair, b pair) + beta · c(i, j) over out.rows ≤ mr × out.columns
  // ≤ nr, c read only when beta ≠ 0.
  void (*tile)(const word* a_panel, const word* b_panel, size_t pairs, Output<float> out);
  // op(A)'s rows × depth block into a block of A panels.
  void (*pack_a)(StridedMatrix<bfloat16> a, size_t rows, size_t depth, word* block);
  // op(B)'s depth × columns block into a block of B panels.
  void (*pack_b)(StridedMatrix<bfloat16> b, size_t depth, size_t columns, word* block);
  // The tile with op(A) (out.rows ≤ stored_rows) and op(B) (b.column_step 1, out.columns ≤
  // stored_columns) read where stored, over `depth` steps of k.
  void (*stored)(StridedMatrix<bfloat16> a, StridedMatrix<bfloat16> b, size_t depth,
                 Output<float> out);
  // The tile with op(A)'s out.rows ≤ mr rows read where stored, against a B panel of pair words
  // over `depth` steps of k; the same sums as the tile on A packed.
  void (*stored_a)(StridedMatrix<bfloat16> a, const word* b_panel, size_t depth, Output<float> out);
};

// The definitions: every path's kernels give these bits.
const DotKernels& scalar_kernels();
#if defined(__x86_64__)
const DotKernels& avx512_bf16_kernels();
#endif

namespace scalar {

// A float as AVX-512's bfloat16 arithmetic sees it: subnormals as zeros of their sign.
inline float flushed(float value) {
  return std::fpclassify(value) == FP_SUBNORMAL ? std::copysign(0.0f, value) : value;
}

// One lane of vdpbf16ps: the high products added first, then the low, each sum rounded to
// nearest even, subnormal inputs and results taken as zero. Products of bfloat16 are exact.
inline float dot_pair(float sum, word a, word b) {
  const auto low = [](word pair) {
    return flushed(to_float(bfloat16::from_bits(static_cast<std::uint16_t>(pair))));
  };
  const auto high = [](word pair) {
    return flushed(to_float(bfloat16::from_bits(static_cast<std::uint16_t>(pair >> 16))));
  };
  sum = flushed(flushed(sum) + high(a) * high(b));
  return flushed(sum + low(a) * low(b));
}

}  // namespace scalar

}  // namespace zum_runtime::gemm::kernels::bf16_dot
