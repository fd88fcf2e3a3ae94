#pragma once

// What the AVX-512 VNNI kernels' units share: included inside their instruction set's region,
// each unit its own copy. Internal to int8_vnni*.cpp.
#include <immintrin.h>

#include <cstring>
#include <utility>

#include "gemm/internal/kernels/int8_tile.hpp"
#include "simd/internal/target_regions.hpp"

ZUM_TARGET_REGION_BEGIN(ZUM_AVX512_VNNI_TARGET)
namespace zum_runtime::gemm::kernels::int8::vnni {
namespace {

constexpr size_t mr = quad_mr;
constexpr size_t nr = quad_nr;

inline __mmask16 lanes_below(size_t count) {
  return count >= 16 ? __mmask16(0xffff) : static_cast<__mmask16>((1u << count) - 1u);
}

// c ← (accumulate ? c : 0) + sum + row offset + column offsets over the lanes in `mask`.
inline void store_row(std::int32_t* c, __m512i sum, __m512i offsets, __mmask16 mask,
                      bool accumulate) {
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
// Where the tile reads A's quads, each broadcast to every lane: a packed panel; op(A)'s
// untransposed rows where stored, four bytes a quad, signed A's top bits flipped in the vector
// (a broadcast from a general register would take the dot products' own pipes); and such rows'
// last quad past a depth not a multiple of 4, built byte by byte.
struct PanelQuads {
  const word* panel;
  __m512i quad(size_t i, size_t q) const { return _mm512_set1_epi32(int(panel[q * mr + i])); }
};
template <bool flipped>
struct RowQuads {
  const std::uint8_t* data;
  size_t row_step;
  __m512i quad(size_t i, size_t q) const {
    word w;
    std::memcpy(&w, data + i * row_step + 4 * q, sizeof w);
    const __m512i quads = _mm512_set1_epi32(int(w));
    return flipped ? _mm512_xor_si512(quads, _mm512_set1_epi32(int(0x80808080u))) : quads;
  }
};
struct LastQuads {
  const std::uint8_t* data;
  size_t row_step;
  size_t depth;
  std::uint8_t flip;
  // The bytes left past the last whole quad, a masked load: the others read as zero.
  __m512i quad(size_t i, size_t q) const {
    const auto bytes = static_cast<__mmask16>((1u << (depth - 4 * q)) - 1u);
    const __m128i loaded = _mm_maskz_loadu_epi8(bytes, data + i * row_step + 4 * q);
    const __m128i flipped =
        _mm_xor_si128(loaded, _mm_maskz_mov_epi8(bytes, _mm_set1_epi8(static_cast<char>(flip))));
    // Zero-masked with every lane kept: g++ 12's plain broadcast warns inside its own header.
    return _mm512_maskz_broadcastd_epi32(0xffff, flipped);
  }
};

template <size_t rows, size_t vectors>
struct QuadSums {
  __m512i left[rows];
  __m512i right[rows];

  // C's rows are fetched while the sums run, so the stores that follow do not wait on them.
  explicit QuadSums(const Output& out) {
#pragma GCC unroll 16
    for (size_t i = 0; i < rows; ++i) {
      left[i] = right[i] = _mm512_setzero_si512();
      _mm_prefetch(reinterpret_cast<const char*>(out.c + i * out.row_stride), _MM_HINT_T0);
      if (vectors == 2) {
        _mm_prefetch(reinterpret_cast<const char*>(out.c + i * out.row_stride + 16), _MM_HINT_T0);
      }
    }
  }

  static void each_row(auto step) {
    [&]<size_t... i>(std::index_sequence<i...>) {
      (step(i), ...);
    }
    (std::make_index_sequence<rows>{});
  }

  // Row by row, each broadcast used by both vectors at once, so that one broadcast is live
  // beside the 24 accumulators and B's two vectors.
  template <typename AQuads>
  [[gnu::always_inline]] void add(const AQuads& a, const word* b_panel, size_t from, size_t to) {
    for (size_t q = from; q < to; ++q) {
      const __m512i b_left = _mm512_loadu_si512(b_panel + q * nr);
      const __m512i b_right = vectors == 2 ? _mm512_loadu_si512(b_panel + q * nr + 16) : b_left;
      each_row([&](size_t i) {
        const __m512i a_quad = a.quad(i, q);
        left[i] = add_quads(left[i], a_quad, b_left);
        if constexpr (vectors == 2) right[i] = add_quads(right[i], a_quad, b_right);
      });
    }
  }

  void store(const Output& out) const {
    const __mmask16 left_mask = lanes_below(out.columns);
    const __mmask16 right_mask = lanes_below(out.columns > 16 ? out.columns - 16 : 0);
    const bool by_column = out.column_offsets != nullptr;
    const __m512i left_offsets = by_column ? _mm512_maskz_loadu_epi32(left_mask, out.column_offsets)
                                           : _mm512_setzero_si512();
    const __m512i right_offsets =
        by_column ? _mm512_maskz_loadu_epi32(right_mask, out.column_offsets + 16)
                  : _mm512_setzero_si512();
#pragma GCC unroll 16
    for (size_t i = 0; i < rows; ++i) {
      std::int32_t* c = out.c + i * out.row_stride;
      const __m512i row_offset = out.row_offsets != nullptr
                                     ? _mm512_set1_epi32(int(out.row_offsets[i]))
                                     : _mm512_setzero_si512();
      store_row(c, left[i], _mm512_add_epi32(left_offsets, row_offset), left_mask, out.accumulate);
      if (vectors == 2 && right_mask != 0) {
        store_row(c + 16, right[i], _mm512_add_epi32(right_offsets, row_offset), right_mask,
                  out.accumulate);
      }
    }
  }
};

// Four rows of 64 bytes into the quads of 64 columns, in the in-lane unpacks' order: vector v
// holds columns 16L + 4v .. 16L + 4v + 3 in its 128-bit lane L.
struct Quads64 {
  __m512i v[4];

  Quads64(const std::uint8_t* row, size_t row_step, size_t rows_left, __mmask64 columns) {
    __m512i r[4];
    for (size_t e = 0; e < 4; ++e) {
      r[e] = e < rows_left ? _mm512_maskz_loadu_epi8(columns, row + e * row_step)
                           : _mm512_setzero_si512();
    }
    const __m512i t0 = _mm512_unpacklo_epi8(r[0], r[1]), t1 = _mm512_unpackhi_epi8(r[0], r[1]);
    const __m512i t2 = _mm512_unpacklo_epi8(r[2], r[3]), t3 = _mm512_unpackhi_epi8(r[2], r[3]);
    v[0] = _mm512_unpacklo_epi16(t0, t2);
    v[1] = _mm512_unpackhi_epi16(t0, t2);
    v[2] = _mm512_unpacklo_epi16(t1, t3);
    v[3] = _mm512_unpackhi_epi16(t1, t3);
  }
};

// vshufi32x4: two 128-bit lanes of x, then two of y, as `lanes` picks. Written with every
// lane merged, as g++ 12's plain form warns of an uninitialized value inside its own header.
template <int lanes>
inline __m512i lanes_of(__m512i x, __m512i y) {
  return _mm512_mask_shuffle_i32x4(x, 0xffff, x, y, lanes);
}

// Vectors in the unpacks' order back to columns 0-15, 16-31, 32-47 and 48-63.
inline void in_column_order(__m512i (&v)[4]) {
  const __m512i low01 = lanes_of<0x44>(v[0], v[1]);
  const __m512i low23 = lanes_of<0x44>(v[2], v[3]);
  const __m512i high01 = lanes_of<0xee>(v[0], v[1]);
  const __m512i high23 = lanes_of<0xee>(v[2], v[3]);
  v[0] = lanes_of<0x88>(low01, low23);
  v[1] = lanes_of<0xdd>(low01, low23);
  v[2] = lanes_of<0x88>(high01, high23);
  v[3] = lanes_of<0xdd>(high01, high23);
}

}  // namespace

// The tiles reading operands where stored (int8_vnni_stored.cpp).
void stored_a(StridedMatrix<std::uint8_t> a, std::uint8_t flip, const word* b_panel, size_t depth,
              const Output& out);
void stored(StridedMatrix<std::uint8_t> a, std::uint8_t flip, StridedMatrix<std::uint8_t> b,
            size_t depth, word column_shift, const Output& out);

}  // namespace zum_runtime::gemm::kernels::int8::vnni
ZUM_TARGET_REGION_END
