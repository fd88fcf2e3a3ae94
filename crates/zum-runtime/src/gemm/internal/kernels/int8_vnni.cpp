// The quad tile on AVX-512 VNNI, with its packers.
#include <immintrin.h>

#include <array>
#include <cstring>
#include <utility>

#include "gemm/internal/kernels/int8_tile.hpp"
#include "simd/internal/target_regions.hpp"

ZUM_TARGET_REGION_BEGIN(ZUM_AVX512_VNNI_TARGET)
namespace zum_runtime::gemm::kernels::int8 {
namespace {

constexpr size_t mr = quad_mr;
constexpr size_t nr = quad_nr;

__mmask16 lanes_below(size_t count) {
  return count >= 16 ? __mmask16(0xffff) : static_cast<__mmask16>((1u << count) - 1u);
}

// c ← (accumulate ? c : 0) + sum + row offset + column offsets over the lanes in `mask`.
void store_row(std::int32_t* c, __m512i sum, __m512i offsets, __mmask16 mask, bool accumulate) {
  __m512i value = _mm512_add_epi32(sum, offsets);
  if (accumulate) value = _mm512_add_epi32(value, _mm512_maskz_loadu_epi32(mask, c));
  _mm512_mask_storeu_epi32(c, mask, value);
}

// sum + the four products of a's unsigned bytes by b's signed ones, in each lane. g++ 12 copies
// the accumulators of the intrinsic through other registers and the stack every step; the
// instruction itself, adding in place, keeps them where they are.
[[gnu::always_inline]] inline __m512i add_quads(__m512i sum, __m512i a, __m512i b) {
#if defined(__clang__)
  return _mm512_dpbusd_epi32(sum, a, b);
#else
  asm("vpdpbusd %2, %1, %0" : "+v"(sum) : "v"(a), "v"(b));
  return sum;
#endif
}

// `rows` rows of the tile: `vectors` (1 or 2) accumulators a row, B's quads the vectors, A's
// broadcast.
template <size_t rows, size_t vectors>
struct QuadSums {
  __m512i left[rows];
  __m512i right[rows];

  QuadSums() {
#pragma GCC unroll 16
    for (size_t i = 0; i < rows; ++i) left[i] = right[i] = _mm512_setzero_si512();
  }

  static void each_row(auto step) {
    [&]<size_t... i>(std::index_sequence<i...>) {
      (step(i), ...);
    }
    (std::make_index_sequence<rows>{});
  }

  // Row by row, each broadcast used by both vectors at once, so that one broadcast is live
  // beside the 24 accumulators and B's two vectors.
  [[gnu::always_inline]] void add(const word* a_panel, const word* b_panel, size_t words) {
    for (size_t q = 0; q < words; ++q) {
      const __m512i b_left = _mm512_loadu_si512(b_panel + q * nr);
      const __m512i b_right = vectors == 2 ? _mm512_loadu_si512(b_panel + q * nr + 16) : b_left;
      each_row([&](size_t i) {
        const __m512i a_quad = _mm512_set1_epi32(int(a_panel[q * mr + i]));
        left[i] = add_quads(left[i], a_quad, b_left);
        if constexpr (vectors == 2) right[i] = add_quads(right[i], a_quad, b_right);
      });
    }
  }

  void store(const Output& out) const {
    const __mmask16 left_mask = lanes_below(out.columns);
    const __mmask16 right_mask = lanes_below(out.columns > 16 ? out.columns - 16 : 0);
    const __m512i left_offsets = _mm512_maskz_loadu_epi32(left_mask, out.column_offsets);
    const __m512i right_offsets = _mm512_maskz_loadu_epi32(right_mask, out.column_offsets + 16);
#pragma GCC unroll 16
    for (size_t i = 0; i < rows; ++i) {
      std::int32_t* c = out.c + i * out.row_stride;
      const __m512i row_offset = _mm512_set1_epi32(int(out.row_offsets[i]));
      store_row(c, left[i], _mm512_add_epi32(left_offsets, row_offset), left_mask, out.accumulate);
      if (vectors == 2 && right_mask != 0) {
        store_row(c + 16, right[i], _mm512_add_epi32(right_offsets, row_offset), right_mask,
                  out.accumulate);
      }
    }
  }
};

template <size_t rows, size_t vectors>
void tile_rows(const word* a_panel, const word* b_panel, size_t words, const Output& out) {
  QuadSums<rows, vectors> sums;
  sums.add(a_panel, b_panel, words);
  sums.store(out);
}

template <size_t vectors, size_t... rows>
constexpr auto tiles_by_rows(std::index_sequence<rows...>) {
  using Tile = void (*)(const word*, const word*, size_t, const Output&);
  return std::array<Tile, sizeof...(rows)>{tile_rows<rows + 1, vectors>...};
}

void tile(const word* a_panel, const word* b_panel, size_t words, const Output& out) {
  static constexpr auto one_vector = tiles_by_rows<1>(std::make_index_sequence<mr>{});
  static constexpr auto two_vectors = tiles_by_rows<2>(std::make_index_sequence<mr>{});
  const auto& tiles = out.columns <= 16 ? one_vector : two_vectors;
  tiles[out.rows - 1](a_panel, b_panel, words, out);
}

// Σ of a row's `count` unsigned bytes, each with its top bit flipped when `flip` is 0x80.
word byte_sum(const std::uint8_t* row, size_t count, std::uint8_t flip) {
  const __m512i flips = _mm512_set1_epi8(static_cast<char>(flip));
  __m512i sums = _mm512_setzero_si512();
  for (size_t at = 0; at < count; at += 64) {
    const __mmask64 mask = count - at >= 64 ? ~__mmask64{0} : (__mmask64{1} << (count - at)) - 1;
    const __m512i bytes = _mm512_xor_si512(_mm512_maskz_loadu_epi8(mask, row + at),
                                           _mm512_maskz_mov_epi8(mask, flips));
    sums = _mm512_add_epi64(sums, _mm512_sad_epu8(bytes, _mm512_setzero_si512()));
  }
  // Stored and added rather than reduced in registers: g++ 12's reduction intrinsic warns of an
  // uninitialized value inside its own header.
  alignas(64) std::uint64_t lanes[8];
  _mm512_store_si512(lanes, sums);
  std::uint64_t total = 0;
  for (const std::uint64_t lane : lanes) total += lane;
  return static_cast<word>(total);
}

// Lines whose k runs along the stored row (op(A) untransposed, op(B) transposed): each quad is
// four stored bytes, copied into its line's column of the panel.
void pack_rows(StridedMatrix<std::uint8_t> x, size_t count, size_t depth, size_t width, word flip,
               word* block) {
  const size_t words = (depth + 3) / 4;
  const size_t whole = depth / 4;
  for (size_t panel = 0; panel < count; panel += width) {
    word* to = block + panel * words;
    for (size_t i = 0; i < width; ++i) {
      if (panel + i >= count) {
        for (size_t q = 0; q < words; ++q) to[q * width + i] = 0;
        continue;
      }
      const std::uint8_t* line = x.data + (panel + i) * x.row_step;
      for (size_t q = 0; q < whole; ++q) {
        word w;
        std::memcpy(&w, line + 4 * q, sizeof w);
        to[q * width + i] = w ^ flip;
      }
      if (whole == words) continue;
      word w = 0;
      for (size_t e = 0; 4 * whole + e < depth; ++e) w |= word{line[4 * whole + e]} << (8 * e);
      to[whole * width + i] = w ^ (flip >> (8 * (4 - depth % 4)));
    }
  }
}

void pack_a(StridedMatrix<std::uint8_t> a, size_t rows, size_t depth, Values values, word* block,
            word* row_sums) {
  if (a.column_step != 1) return pack_quads_a(a, rows, depth, values, block, row_sums);
  const word flip = values.is_signed ? 0x80808080u : 0u;
  pack_rows(a, rows, depth, mr, flip, block);
  if (row_sums == nullptr) return;
  for (size_t i = 0; i < rows; ++i)
    row_sums[i] = byte_sum(a.data + i * a.row_step, depth, static_cast<std::uint8_t>(flip));
}

// Four rows of 32 bytes (columns) into 32 quads: byte e of quad j from row e, column j. The
// in-lane unpacks leave quads of columns {0-3, 16-19}, {4-7, 20-23}, {8-11, 24-27} and
// {12-15, 28-31} in w0..w3, put back in order by the lane moves.
void interleave_quads(const __m256i (&row)[4], word* to) {
  const __m256i t0 = _mm256_unpacklo_epi8(row[0], row[1]);
  const __m256i t1 = _mm256_unpackhi_epi8(row[0], row[1]);
  const __m256i t2 = _mm256_unpacklo_epi8(row[2], row[3]);
  const __m256i t3 = _mm256_unpackhi_epi8(row[2], row[3]);
  const __m256i w0 = _mm256_unpacklo_epi16(t0, t2);
  const __m256i w1 = _mm256_unpackhi_epi16(t0, t2);
  const __m256i w2 = _mm256_unpacklo_epi16(t1, t3);
  const __m256i w3 = _mm256_unpackhi_epi16(t1, t3);
  auto* out = reinterpret_cast<__m256i*>(to);
  _mm256_storeu_si256(out, _mm256_permute2x128_si256(w0, w1, 0x20));
  _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(w2, w3, 0x20));
  _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(w0, w1, 0x31));
  _mm256_storeu_si256(out + 3, _mm256_permute2x128_si256(w2, w3, 0x31));
}

// op(B) untransposed: each quad is four rows, interleaved a byte at a time; the column sums
// come from the packed quads, four at a time, by vpdpbusd against ones.
void pack_b(StridedMatrix<std::uint8_t> b, size_t depth, size_t columns, Values values, word* block,
            word* column_sums) {
  if (b.column_step != 1) {
    pack_rows({b.data, b.column_step, b.row_step}, columns, depth, nr, 0, block);
  } else {
    const size_t words = (depth + 3) / 4;
    for (size_t q = 0; q < words; ++q) {
      for (size_t panel = 0; panel < columns; panel += nr) {
        const size_t left = columns - panel;
        const __mmask32 mask = left >= 32 ? ~__mmask32{0} : (__mmask32{1} << left) - 1;
        __m256i row[4];
        for (size_t e = 0; e < 4; ++e) {
          row[e] = 4 * q + e < depth
                       ? _mm256_maskz_loadu_epi8(mask, b.data + (4 * q + e) * b.row_step + panel)
                       : _mm256_setzero_si256();
        }
        interleave_quads(row, block + panel * words + q * nr);
      }
    }
  }
  (void)values;
  if (column_sums == nullptr) return;
  const size_t words = (depth + 3) / 4;
  const __m512i ones = _mm512_set1_epi8(1);
  for (size_t panel = 0; panel < columns; panel += nr) {
    __m512i left = _mm512_setzero_si512();
    __m512i right = _mm512_setzero_si512();
    const word* from = block + panel * words;
    for (size_t q = 0; q < words; ++q) {
      left = _mm512_dpbusd_epi32(left, ones, _mm512_loadu_si512(from + q * nr));
      right = _mm512_dpbusd_epi32(right, ones, _mm512_loadu_si512(from + q * nr + 16));
    }
    const size_t left_columns = columns - panel;
    _mm512_mask_storeu_epi32(column_sums + panel, lanes_below(left_columns), left);
    if (left_columns > 16)
      _mm512_mask_storeu_epi32(column_sums + panel + 16, lanes_below(left_columns - 16), right);
  }
}

}  // namespace

const Kernels& avx512_vnni_quads() {
  static constexpr Kernels kernels{4, mr, nr, tile, pack_a, pack_b};
  return kernels;
}

}  // namespace zum_runtime::gemm::kernels::int8
ZUM_TARGET_REGION_END
