// The pair tile on AVX2's vpmaddwd: the exact fallback where VNNI is missing or capped.
#include <immintrin.h>

#include <array>
#include <utility>

#include "gemm/internal/kernels/int8_tile.hpp"
#include "simd/internal/target_regions.hpp"

ZUM_TARGET_REGION_BEGIN(ZUM_AVX2_FMA_TARGET)
namespace zum_runtime::gemm::kernels::int8 {
namespace {

constexpr size_t mr = pair_mr;
constexpr size_t nr = pair_nr;

// The first `count` of eight lanes, as a mask for the 32-bit masked loads and stores.
__m256i lanes_below(size_t count) {
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  return _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(count < 8 ? count : 8)), lane);
}

// c ← (accumulate ? c : 0) + sum + offsets over the lanes in `mask`.
void store_row(std::int32_t* c, __m256i sum, __m256i offsets, __m256i mask, bool accumulate) {
  __m256i value = _mm256_add_epi32(sum, offsets);
  if (accumulate) value = _mm256_add_epi32(value, _mm256_maskload_epi32(c, mask));
  _mm256_maskstore_epi32(c, mask, value);
}

__m256i load_offsets(const word* offsets, __m256i mask) {
  if (offsets == nullptr) return _mm256_setzero_si256();
  return _mm256_maskload_epi32(reinterpret_cast<const int*>(offsets), mask);
}

// `rows` rows of the tile, two vectors of eight columns a row.
template <size_t rows>
void tile_rows(const word* a_panel, const word* b_panel, size_t words, const Output& out) {
  __m256i left[rows];
  __m256i right[rows];
#pragma GCC unroll 8
  for (size_t i = 0; i < rows; ++i) left[i] = right[i] = _mm256_setzero_si256();
  for (size_t p = 0; p < words; ++p) {
    const __m256i b_left = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b_panel + p * nr));
    const __m256i b_right =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b_panel + p * nr + 8));
    [&]<size_t... i>(std::index_sequence<i...>) {
      ((left[i] = _mm256_add_epi32(
            left[i], _mm256_madd_epi16(_mm256_set1_epi32(int(a_panel[p * mr + i])), b_left))),
       ...);
      ((right[i] = _mm256_add_epi32(
            right[i], _mm256_madd_epi16(_mm256_set1_epi32(int(a_panel[p * mr + i])), b_right))),
       ...);
    }
    (std::make_index_sequence<rows>{});
  }
  const __m256i left_mask = lanes_below(out.columns);
  const __m256i right_mask = lanes_below(out.columns > 8 ? out.columns - 8 : 0);
  const __m256i left_offsets = load_offsets(out.column_offsets, left_mask);
  const __m256i right_offsets =
      load_offsets(out.column_offsets != nullptr ? out.column_offsets + 8 : nullptr, right_mask);
#pragma GCC unroll 8
  for (size_t i = 0; i < rows; ++i) {
    std::int32_t* c = out.c + i * out.row_stride;
    const __m256i row_offset = out.row_offsets != nullptr
                                   ? _mm256_set1_epi32(int(out.row_offsets[i]))
                                   : _mm256_setzero_si256();
    store_row(c, left[i], _mm256_add_epi32(left_offsets, row_offset), left_mask, out.accumulate);
    if (out.columns > 8) {
      store_row(c + 8, right[i], _mm256_add_epi32(right_offsets, row_offset), right_mask,
                out.accumulate);
    }
  }
}

template <size_t... rows>
constexpr auto tiles_by_rows(std::index_sequence<rows...>) {
  using Tile = void (*)(const word*, const word*, size_t, const Output&);
  return std::array<Tile, sizeof...(rows)>{tile_rows<rows + 1>...};
}

void tile(const word* a_panel, const word* b_panel, size_t words, const Output& out) {
  static constexpr auto tiles = tiles_by_rows(std::make_index_sequence<mr>{});
  tiles[out.rows - 1](a_panel, b_panel, words, out);
}

}  // namespace

const Kernels& avx2_pairs() {
  static constexpr Kernels kernels{2,       mr,      nr,     tile, pack_pairs_a, pack_pairs_b,
                                   nullptr, nullptr, nullptr};
  return kernels;
}

}  // namespace zum_runtime::gemm::kernels::int8
ZUM_TARGET_REGION_END
