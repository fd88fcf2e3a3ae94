// The stored tile on AVX-512 BF16: a few rows of op(A) and an untransposed op(B), both read
// where they are stored.
#include <algorithm>
#include <array>
#include <utility>

#include "gemm/internal/kernels/bf16_dot_avx512.hpp"

ZUM_TARGET_REGION_BEGIN(ZUM_AVX512_BF16_TARGET)
namespace zum_runtime::gemm::kernels::bf16_dot::avx512_bf16 {
namespace {

// Lane i of the output from lanes of (low, high): the in-lane interleave put columns
// {0-3, 8-11, 16-19, 24-27} of 32 in `low` and {4-7, 12-15, 20-23, 28-31} in `high`; the first
// output holds columns 0-15, the second 16-31.
__m512i column_order_index(unsigned first_chunk) {
  alignas(64) std::array<int, 16> index{};
  for (unsigned lane = 0; lane < 16; ++lane) {
    const unsigned chunk = lane / 4;
    index[lane] = static_cast<int>((chunk % 2) * 16 + (first_chunk + chunk / 2) * 4 + lane % 4);
  }
  return _mm512_load_si512(index.data());
}

// Row i's pair word at step p of op(A) where stored; the high half zero past an odd depth.
word stored_pair(StridedMatrix<bfloat16> a, size_t i, size_t p, size_t depth) {
  const word high = 2 * p + 1 < depth ? a.at(i, 2 * p + 1).bits() : 0u;
  return word{a.at(i, 2 * p).bits()} | high << 16;
}

// B's stored rows 2p and 2p + 1 from column `column` on, as pair words in two vectors
// interleaved in lanes: `low` holds columns {0-3, 8-11, 16-19, 24-27} of the 32, `high` the rest.
struct PairVectors {
  __m512bh low, high;
};
PairVectors pair_vectors(const bfloat16* even, size_t row_step, bool has_odd, __mmask32 mask) {
  const __m512i even_row = _mm512_maskz_loadu_epi16(mask, even);
  const __m512i odd_row =
      has_odd ? _mm512_maskz_loadu_epi16(mask, even + row_step) : _mm512_setzero_si512();
  return {as_pairs(_mm512_unpacklo_epi16(even_row, odd_row)),
          as_pairs(_mm512_unpackhi_epi16(even_row, odd_row))};
}

// `steps` (1 or 2) pairs of k from pair p on, into the sums of every column: B's rows stream
// through in stored order, the sums stay in L1.
template <size_t rows, size_t steps>
void sweep_pairs(StridedMatrix<bfloat16> a, StridedMatrix<bfloat16> b, size_t depth, size_t p,
                 size_t columns, float (*sums)[stored_columns]) {
  __m512bh a_pairs[steps][rows];
  for (size_t step = 0; step < steps; ++step) {
    for (size_t i = 0; i < rows; ++i)
      a_pairs[step][i] = broadcast_pair(stored_pair(a, i, p + step, depth));
  }
  for (size_t column = 0; column < columns; column += 32) {
    const __mmask32 mask = columns_below(columns - column);
    PairVectors b_pairs[steps];
    for (size_t step = 0; step < steps; ++step) {
      const size_t even = 2 * (p + step);
      b_pairs[step] =
          pair_vectors(b.data + even * b.row_step + column, b.row_step, even + 1 < depth, mask);
    }
    for (size_t i = 0; i < rows; ++i) {
      __m512 low = _mm512_load_ps(sums[i] + column), high = _mm512_load_ps(sums[i] + column + 16);
      for (size_t step = 0; step < steps; ++step) {
        low = _mm512_dpbf16_ps(low, a_pairs[step][i], b_pairs[step].low);
        high = _mm512_dpbf16_ps(high, a_pairs[step][i], b_pairs[step].high);
      }
      _mm512_store_ps(sums[i] + column, low);
      _mm512_store_ps(sums[i] + column + 16, high);
    }
  }
}

// `rows` rows × up to stored_columns columns: per pair of k, the two stored rows of B
// interleaved in lanes against every column's sums; the sums put back in column order once.
template <size_t rows>
void stored_rows_tile(StridedMatrix<bfloat16> a, StridedMatrix<bfloat16> b, size_t depth,
                      Output<float> out) {
  alignas(64) float sums[rows][stored_columns];
  const size_t columns = (out.columns + 31) / 32 * 32;
  for (size_t i = 0; i < rows; ++i) std::fill_n(sums[i], columns, 0.0f);
  const size_t pairs = pairs_of(depth);
  size_t p = 0;
  for (; p + 2 <= pairs; p += 2) sweep_pairs<rows, 2>(a, b, depth, p, out.columns, sums);
  if (p < pairs) sweep_pairs<rows, 1>(a, b, depth, p, out.columns, sums);
  const __m512i first_half = column_order_index(0), second_half = column_order_index(2);
  for (size_t i = 0; i < rows; ++i) {
    float* c = out.c + i * out.row_stride;
    for (size_t column = 0; column < out.columns; column += 32) {
      const __m512 low = _mm512_load_ps(sums[i] + column);
      const __m512 high = _mm512_load_ps(sums[i] + column + 16);
      store_row(c + column, _mm512_permutex2var_ps(low, first_half, high),
                lanes_below(out.columns - column), out);
      if (column + 16 < out.columns) {
        store_row(c + column + 16, _mm512_permutex2var_ps(low, second_half, high),
                  lanes_below(out.columns - column - 16), out);
      }
    }
  }
}

}  // namespace

void stored(StridedMatrix<bfloat16> a, StridedMatrix<bfloat16> b, size_t depth, Output<float> out) {
  static constexpr auto tiles = []<size_t... rows>(std::index_sequence<rows...>) {
    return std::array{stored_rows_tile<rows + 1>...};
  }
  (std::make_index_sequence<stored_rows>{});
  tiles[out.rows - 1](a, b, depth, out);
}

}  // namespace zum_runtime::gemm::kernels::bf16_dot::avx512_bf16
ZUM_TARGET_REGION_END
