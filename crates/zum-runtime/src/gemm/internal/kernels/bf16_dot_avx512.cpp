// The dot-product tile on AVX-512 BF16, with its packers.
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "gemm/internal/kernels/bf16_dot_tile.hpp"
#include "simd/internal/target_regions.hpp"

ZUM_TARGET_REGION_BEGIN(ZUM_AVX512_BF16_TARGET)
namespace zum_runtime::gemm::kernels::bf16_dot {
namespace {

__m512bh as_pairs(__m512i words) {
  return (__m512bh)words;
}

// One pair word in every lane. Clang 16's vector combiner crashes turning the bfloat16 view of
// a lone broadcast into a broadcast of bfloat16; an empty asm hides the broadcast from it.
__m512bh broadcast_pair(word pair) {
  __m512i words = _mm512_set1_epi32(int(pair));
#if defined(__clang__)
  asm("" : "+v"(words));
#endif
  return as_pairs(words);
}

__mmask16 lanes_below(size_t count) {
  return count >= 16 ? __mmask16(0xffff) : static_cast<__mmask16>((1u << count) - 1u);
}

// c ← alpha · sum + beta · c over the lanes in `mask`, c read only when beta ≠ 0.
void store_row(float* c, __m512 sum, __mmask16 mask, const Output<float>& out) {
  const __m512 scaled =
      out.beta != 0.0f
          ? _mm512_fmadd_ps(_mm512_set1_ps(out.alpha), sum,
                            _mm512_mul_ps(_mm512_set1_ps(out.beta), _mm512_maskz_loadu_ps(mask, c)))
          : _mm512_mul_ps(_mm512_set1_ps(out.alpha), sum);
  _mm512_mask_storeu_ps(c, mask, scaled);
}

word pair_at(const bfloat16* pair) {
  word value;
  std::memcpy(&value, pair, sizeof value);
  return value;
}

// Where the tile reads A's pair words: a packed panel; op(A)'s untransposed rows where stored,
// each pair one 32-bit word; and such rows' last step past an odd depth, its low half alone.
struct PanelPairs {
  const word* panel;
  word at(size_t i, size_t p) const { return panel[p * mr + i]; }
};
struct RowPairs {
  const bfloat16* data;
  size_t row_step;
  word at(size_t i, size_t p) const { return pair_at(data + i * row_step + 2 * p); }
};
struct LastLowHalves {
  const bfloat16* data;
  size_t row_step;
  word at(size_t i, size_t p) const { return data[i * row_step + 2 * p].bits(); }
};

// `rows` rows of the tile: `vectors` (1 or 2) accumulators a row, B's pair words the vectors,
// A's broadcast; one vector where at most 16 columns remain.
template <size_t rows, size_t vectors>
struct TileSums {
  __m512 left[rows];
  __m512 right[rows];

  static void each_row(auto step) {
    [&]<size_t... i>(std::index_sequence<i...>) {
      (step(i), ...);
    }
    (std::make_index_sequence<rows>{});
  }

  // C's rows are fetched while the sums run, so the stores that follow do not wait on them.
  explicit TileSums(const Output<float>& out) {
#pragma GCC unroll 16
    for (size_t i = 0; i < rows; ++i) {
      left[i] = right[i] = _mm512_setzero_ps();
      _mm_prefetch(reinterpret_cast<const char*>(out.c + i * out.row_stride), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(out.c + i * out.row_stride + 16), _MM_HINT_T0);
    }
  }

  template <typename APairs>
  [[gnu::always_inline]] void add(const APairs& a, const word* b_panel, size_t from, size_t to) {
    for (size_t p = from; p < to; ++p) {
      const __m512bh b_left = as_pairs(_mm512_loadu_si512(b_panel + p * nr));
      const __m512bh b_right =
          vectors == 2 ? as_pairs(_mm512_loadu_si512(b_panel + p * nr + 16)) : b_left;
      each_row([&](size_t i) {
        const __m512bh a_pair = broadcast_pair(a.at(i, p));
        left[i] = _mm512_dpbf16_ps(left[i], a_pair, b_left);
        if constexpr (vectors == 2) right[i] = _mm512_dpbf16_ps(right[i], a_pair, b_right);
      });
    }
  }

  void store(const Output<float>& out) const {
    const __mmask16 left_mask = lanes_below(out.columns);
    const __mmask16 right_mask = lanes_below(out.columns > 16 ? out.columns - 16 : 0);
#pragma GCC unroll 16
    for (size_t i = 0; i < rows; ++i) {
      float* c = out.c + i * out.row_stride;
      store_row(c, left[i], left_mask, out);
      if (vectors == 2 && right_mask != 0) store_row(c + 16, right[i], right_mask, out);
    }
  }
};

template <size_t rows, size_t vectors>
void tile_rows(const word* a_panel, const word* b_panel, size_t pairs, Output<float> out) {
  TileSums<rows, vectors> sums(out);
  sums.add(PanelPairs{a_panel}, b_panel, 0, pairs);
  sums.store(out);
}

template <size_t rows, size_t vectors>
void stored_a_rows(StridedMatrix<bfloat16> a, const word* b_panel, size_t depth,
                   Output<float> out) {
  TileSums<rows, vectors> sums(out);
  sums.add(RowPairs{a.data, a.row_step}, b_panel, 0, depth / 2);
  if (depth % 2 != 0)
    sums.add(LastLowHalves{a.data, a.row_step}, b_panel, depth / 2, depth / 2 + 1);
  sums.store(out);
}

template <size_t vectors, size_t... rows>
constexpr auto tiles_by_rows(std::index_sequence<rows...>) {
  using Tile = void (*)(const word*, const word*, size_t, Output<float>);
  return std::array<Tile, sizeof...(rows)>{tile_rows<rows + 1, vectors>...};
}

template <size_t vectors, size_t... rows>
constexpr auto stored_a_tiles_by_rows(std::index_sequence<rows...>) {
  using Tile = void (*)(StridedMatrix<bfloat16>, const word*, size_t, Output<float>);
  return std::array<Tile, sizeof...(rows)>{stored_a_rows<rows + 1, vectors>...};
}

void tile(const word* a_panel, const word* b_panel, size_t pairs, Output<float> out) {
  static constexpr auto one_vector = tiles_by_rows<1>(std::make_index_sequence<mr>{});
  static constexpr auto two_vectors = tiles_by_rows<2>(std::make_index_sequence<mr>{});
  const auto& tiles = out.columns <= 16 ? one_vector : two_vectors;
  tiles[out.rows - 1](a_panel, b_panel, pairs, out);
}

// op(A) untransposed where stored (a.column_step 1); any other op(A) through the definition.
void stored_a(StridedMatrix<bfloat16> a, const word* b_panel, size_t depth, Output<float> out) {
  if (a.column_step != 1) return scalar_kernels().stored_a(a, b_panel, depth, out);
  static constexpr auto one_vector = stored_a_tiles_by_rows<1>(std::make_index_sequence<mr>{});
  static constexpr auto two_vectors = stored_a_tiles_by_rows<2>(std::make_index_sequence<mr>{});
  const auto& tiles = out.columns <= 16 ? one_vector : two_vectors;
  tiles[out.rows - 1](a, b_panel, depth, out);
}

// Output word w of a pair of rows: even words from the first row, odd from the second, the
// low 16 columns in one vector and the high 16 in the other.
__m512i interleave_index(unsigned first_column) {
  alignas(64) std::array<short, 32> index{};
  for (unsigned w = 0; w < 32; ++w)
    index[w] = static_cast<short>(first_column + w / 2 + (w % 2) * 32);
  return _mm512_load_si512(index.data());
}

__mmask32 columns_below(size_t count) {
  return count >= 32 ? ~__mmask32{0} : static_cast<__mmask32>((1u << count) - 1u);
}

// op(B) untransposed: each pair of k is two rows, interleaved 16 bits at a time; the rows are
// read along their length, every panel of the block a pair at a time.
void pack_b(StridedMatrix<bfloat16> b, size_t depth, size_t columns, word* block) {
  if (b.column_step != 1) return scalar_kernels().pack_b(b, depth, columns, block);
  const size_t pairs = pairs_of(depth);
  const __m512i low_index = interleave_index(0);
  const __m512i high_index = interleave_index(16);
  for (size_t p = 0; p < pairs; ++p) {
    const bfloat16* even_row = b.data + 2 * p * b.row_step;
    const bool has_odd = 2 * p + 1 < depth;
    for (size_t panel = 0; panel < columns; panel += nr) {
      const __mmask32 mask = columns_below(columns - panel);
      const __m512i even = _mm512_maskz_loadu_epi16(mask, even_row + panel);
      const __m512i odd = has_odd ? _mm512_maskz_loadu_epi16(mask, even_row + b.row_step + panel)
                                  : _mm512_setzero_si512();
      word* to = block + panel * pairs + p * nr;
      _mm512_storeu_si512(to, _mm512_permutex2var_epi16(even, low_index, odd));
      _mm512_storeu_si512(to + 16, _mm512_permutex2var_epi16(even, high_index, odd));
    }
  }
}

// op(A) untransposed: each pair of k is one 32-bit word of a row, copied into its column of
// the panel; an odd depth's last pair has a zero high half.
void pack_a_rows(StridedMatrix<bfloat16> a, size_t rows, size_t depth, word* block) {
  const size_t pairs = pairs_of(depth);
  const size_t whole_pairs = depth / 2;
  for (size_t panel = 0; panel < rows; panel += mr) {
    word* to = block + panel * pairs;
    for (size_t i = 0; i < mr; ++i) {
      if (panel + i >= rows) {
        for (size_t p = 0; p < pairs; ++p) to[p * mr + i] = 0;
        continue;
      }
      const bfloat16* row = a.data + (panel + i) * a.row_step;
      for (size_t p = 0; p < whole_pairs; ++p) to[p * mr + i] = pair_at(row + 2 * p);
      if (pairs != whole_pairs) to[whole_pairs * mr + i] = row[depth - 1].bits();
    }
  }
}

// op(A) transposed: each pair of k is two stored rows, interleaved 16 bits at a time as B's.
void pack_a_columns(StridedMatrix<bfloat16> a, size_t rows, size_t depth, word* block) {
  const size_t pairs = pairs_of(depth);
  const __m512i low_index = interleave_index(0);
  for (size_t panel = 0; panel < rows; panel += mr) {
    const auto mask = static_cast<__mmask32>(columns_below(std::min(mr, rows - panel)));
    word* to = block + panel * pairs;
    for (size_t p = 0; p < pairs; ++p) {
      const bfloat16* first = a.data + 2 * p * a.column_step + panel;
      const __m512i even = _mm512_maskz_loadu_epi16(mask, first);
      const __m512i odd = 2 * p + 1 < depth ? _mm512_maskz_loadu_epi16(mask, first + a.column_step)
                                            : _mm512_setzero_si512();
      _mm512_mask_storeu_epi32(to + p * mr, lanes_below(mr),
                               _mm512_permutex2var_epi16(even, low_index, odd));
    }
  }
}

void pack_a(StridedMatrix<bfloat16> a, size_t rows, size_t depth, word* block) {
  if (a.column_step == 1) return pack_a_rows(a, rows, depth, block);
  pack_a_columns(a, rows, depth, block);
}

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

void stored(StridedMatrix<bfloat16> a, StridedMatrix<bfloat16> b, size_t depth, Output<float> out) {
  static constexpr auto tiles = []<size_t... rows>(std::index_sequence<rows...>) {
    return std::array{stored_rows_tile<rows + 1>...};
  }
  (std::make_index_sequence<stored_rows>{});
  tiles[out.rows - 1](a, b, depth, out);
}

}  // namespace

const DotKernels& avx512_bf16_kernels() {
  static constexpr DotKernels kernels{tile, pack_a, pack_b, stored, stored_a};
  return kernels;
}

}  // namespace zum_runtime::gemm::kernels::bf16_dot
ZUM_TARGET_REGION_END
