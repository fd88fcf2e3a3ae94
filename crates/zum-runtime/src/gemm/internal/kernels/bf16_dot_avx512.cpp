// The dot-product tile on AVX-512 BF16, with its packers; the stored tile in
// bf16_dot_avx512_stored.cpp.
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "gemm/internal/kernels/bf16_dot_avx512.hpp"

ZUM_TARGET_REGION_BEGIN(ZUM_AVX512_BF16_TARGET)
namespace zum_runtime::gemm::kernels::bf16_dot {
namespace {
using namespace avx512_bf16;

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

}  // namespace

const DotKernels& avx512_bf16_kernels() {
  static constexpr DotKernels kernels{tile, pack_a, pack_b, avx512_bf16::stored, stored_a};
  return kernels;
}

}  // namespace zum_runtime::gemm::kernels::bf16_dot
ZUM_TARGET_REGION_END
