// The pair tile on AVX2's vpmaddwd: the exact fallback where VNNI is missing or capped.
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

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

// Sixteen stored bytes as int16, less the zero point: every value lies in [−255, 255].
__m256i widened(const std::uint8_t* bytes, Values values) {
  const __m128i narrow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  const __m256i wide =
      values.is_signed ? _mm256_cvtepi8_epi16(narrow) : _mm256_cvtepu8_epi16(narrow);
  return _mm256_sub_epi16(wide, _mm256_set1_epi16(static_cast<short>(values.zero_point)));
}

// op(B) untransposed: each pair is two rows, their int16 interleaved, 16 columns (a panel) at
// a time; a last panel of fewer columns, and a last row without its pair, by the definition.
void pack_b(StridedMatrix<std::uint8_t> b, size_t depth, size_t columns, Values values, word* block,
            word* column_sums) {
  const size_t whole_columns = columns / nr * nr;
  const size_t pairs = (depth + 1) / 2;
  if (b.column_step != 1 || whole_columns == 0) {
    return pack_pairs_b(b, depth, columns, values, block, column_sums);
  }
  for (size_t p = 0; p < depth / 2; ++p) {
    const std::uint8_t* even = b.data + 2 * p * b.row_step;
    for (size_t panel = 0; panel < whole_columns; panel += nr) {
      const __m256i low = widened(even + panel, values);
      const __m256i high = widened(even + b.row_step + panel, values);
      const __m256i first = _mm256_unpacklo_epi16(low, high);   // columns 0-3 and 8-11
      const __m256i second = _mm256_unpackhi_epi16(low, high);  // columns 4-7 and 12-15
      auto* to = reinterpret_cast<__m256i*>(block + panel * pairs + p * nr);
      _mm256_storeu_si256(to, _mm256_permute2x128_si256(first, second, 0x20));
      _mm256_storeu_si256(to + 1, _mm256_permute2x128_si256(first, second, 0x31));
    }
  }
  if (depth % 2 != 0) {
    // The last pair's high halves are zero: the definition packs that one row.
    const size_t last = depth - 1;
    std::vector<word> tail(whole_columns);
    pack_pairs_b(b.offset(last, 0), 1, whole_columns, values, tail.data(), nullptr);
    for (size_t panel = 0; panel < whole_columns; panel += nr) {
      std::copy_n(tail.data() + panel, nr, block + panel * pairs + (pairs - 1) * nr);
    }
  }
  if (whole_columns < columns) {
    pack_pairs_b(b.offset(0, whole_columns), depth, columns - whole_columns, values,
                 block + whole_columns * pairs, column_sums);
  }
}

// Eight rows of eight words into eight columns: word w of every row, in row order.
void transpose_words(__m256i (&rows)[8]) {
  __m256i t[8], u[8];
  for (size_t r = 0; r < 8; r += 2) {
    t[r] = _mm256_unpacklo_epi32(rows[r], rows[r + 1]);
    t[r + 1] = _mm256_unpackhi_epi32(rows[r], rows[r + 1]);
  }
  for (size_t r = 0; r < 8; r += 4) {
    u[r] = _mm256_unpacklo_epi64(t[r], t[r + 2]);      // words 0 and 4
    u[r + 1] = _mm256_unpackhi_epi64(t[r], t[r + 2]);  // words 1 and 5
    u[r + 2] = _mm256_unpacklo_epi64(t[r + 1], t[r + 3]);
    u[r + 3] = _mm256_unpackhi_epi64(t[r + 1], t[r + 3]);
  }
  for (size_t w = 0; w < 4; ++w) {
    rows[w] = _mm256_permute2x128_si256(u[w], u[w + 4], 0x20);
    rows[w + 4] = _mm256_permute2x128_si256(u[w], u[w + 4], 0x31);
  }
}

// op(A) untransposed: each row's pairs are its consecutive int16, eight words from sixteen
// bytes; the rows of a panel turned into its columns eight words at a time. The words past
// the last whole eight, and any other op(A), by the definition's rule.
void pack_a(StridedMatrix<std::uint8_t> a, size_t rows, size_t depth, Values values, word* block,
            word* row_sums) {
  if (a.column_step != 1) return pack_pairs_a(a, rows, depth, values, block, row_sums);
  const size_t pairs = (depth + 1) / 2;
  const size_t whole = depth / 16 * 8;
  const __m256i six = lanes_below(mr);
  for (size_t panel = 0; panel < rows; panel += mr) {
    word* to = block + panel * pairs;
    const size_t panel_rows = std::min(mr, rows - panel);
    for (size_t q = 0; q < whole; q += 8) {
      __m256i words[8] = {};
      for (size_t i = 0; i < panel_rows; ++i)
        words[i] = widened(a.data + (panel + i) * a.row_step + 2 * q, values);
      transpose_words(words);
      for (size_t w = 0; w < 8; ++w)
        _mm256_maskstore_epi32(reinterpret_cast<int*>(to + (q + w) * mr), six, words[w]);
    }
    for (size_t i = 0; i < mr; ++i) {
      for (size_t q = whole; q < pairs; ++q) to[q * mr + i] = 0;
      if (i >= panel_rows) continue;
      const std::uint8_t* row = a.data + (panel + i) * a.row_step;
      for (size_t p = 2 * whole; p < depth; ++p) {
        to[p / 2 * mr + i] |= word{static_cast<std::uint16_t>(values.of(row[p]))} << (16 * (p % 2));
      }
    }
  }
}

}  // namespace

const Kernels& avx2_pairs() {
  static constexpr Kernels kernels{2, mr, nr, tile, pack_a, pack_b, nullptr, nullptr, nullptr};
  return kernels;
}

}  // namespace zum_runtime::gemm::kernels::int8
ZUM_TARGET_REGION_END
