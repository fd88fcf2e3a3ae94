// The quad tile on AVX-512 VNNI, with its packers; the tiles that read operands where stored
// in int8_vnni_stored.cpp.
#include <array>
#include <cstring>
#include <utility>

#include "gemm/internal/kernels/int8_vnni.hpp"

ZUM_TARGET_REGION_BEGIN(ZUM_AVX512_VNNI_TARGET)
namespace zum_runtime::gemm::kernels::int8 {
namespace {
using namespace vnni;

template <size_t rows, size_t vectors>
void tile_rows(const word* a_panel, const word* b_panel, size_t words, const Output& out) {
  QuadSums<rows, vectors> sums(out);
  sums.add(PanelQuads{a_panel}, b_panel, 0, words);
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
// Words from `first_word` on: the ones before are the caller's.
void pack_rows(StridedMatrix<std::uint8_t> x, size_t count, size_t depth, size_t width, word flip,
               word* block, size_t first_word = 0) {
  const size_t words = (depth + 3) / 4;
  const size_t whole = depth / 4;
  for (size_t panel = 0; panel < count; panel += width) {
    word* to = block + panel * words;
    for (size_t i = 0; i < width; ++i) {
      if (panel + i >= count) {
        for (size_t q = first_word; q < words; ++q) to[q * width + i] = 0;
        continue;
      }
      const std::uint8_t* line = x.data + (panel + i) * x.row_step;
      for (size_t q = first_word; q < whole; ++q) {
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

void sum_rows(StridedMatrix<std::uint8_t> a, size_t rows, size_t depth, std::uint8_t flip,
              word* sums) {
  if (a.column_step != 1) return sum_quad_rows(a, rows, depth, flip, sums);
  for (size_t i = 0; i < rows; ++i) sums[i] = byte_sum(a.data + i * a.row_step, depth, flip);
}

// Sixteen rows of sixteen words into sixteen columns: word w of every row, in row order. The
// unpacks leave word 4L + j of rows 4r .. 4r + 3 in lane L of u[4r + j]; the lane moves gather
// each word's four lanes.
// (Each unpack written with every lane merged: g++ 12's plain forms warn of
// an uninitialized value inside its own header, as lanes_of's do.)
void transpose_words(__m512i (&r)[16]) {
  __m512i t[16], u[16];
  for (size_t i = 0; i < 16; i += 2) {
    t[i] = _mm512_mask_unpacklo_epi32(r[i], 0xffff, r[i], r[i + 1]);
    t[i + 1] = _mm512_mask_unpackhi_epi32(r[i], 0xffff, r[i], r[i + 1]);
  }
  for (size_t i = 0; i < 16; i += 4) {
    u[i] = _mm512_mask_unpacklo_epi64(t[i], 0xff, t[i], t[i + 2]);
    u[i + 1] = _mm512_mask_unpackhi_epi64(t[i], 0xff, t[i], t[i + 2]);
    u[i + 2] = _mm512_mask_unpacklo_epi64(t[i + 1], 0xff, t[i + 1], t[i + 3]);
    u[i + 3] = _mm512_mask_unpackhi_epi64(t[i + 1], 0xff, t[i + 1], t[i + 3]);
  }
  for (size_t j = 0; j < 4; ++j) {
    const __m512i even_lanes_low = lanes_of<0x88>(u[j], u[4 + j]);
    const __m512i odd_lanes_low = lanes_of<0xdd>(u[j], u[4 + j]);
    const __m512i even_lanes_high = lanes_of<0x88>(u[8 + j], u[12 + j]);
    const __m512i odd_lanes_high = lanes_of<0xdd>(u[8 + j], u[12 + j]);
    r[j] = lanes_of<0x88>(even_lanes_low, even_lanes_high);
    r[8 + j] = lanes_of<0xdd>(even_lanes_low, even_lanes_high);
    r[4 + j] = lanes_of<0x88>(odd_lanes_low, odd_lanes_high);
    r[12 + j] = lanes_of<0xdd>(odd_lanes_low, odd_lanes_high);
  }
}

// op(A) untransposed, 64 bytes (16 quads) of each of a panel's rows at a time, turned so that
// each quad's 12 rows are stored together; the quads past the last whole 16 as pack_rows does.
void pack_rows_by_sixteen(StridedMatrix<std::uint8_t> a, size_t rows, size_t depth, word flip,
                          word* block) {
  const size_t words = (depth + 3) / 4;
  const size_t whole = depth / 64 * 16;
  const __m512i flips = _mm512_set1_epi32(int(flip));
  for (size_t panel = 0; panel < rows; panel += mr) {
    const size_t panel_rows = std::min(mr, rows - panel);
    word* to = block + panel * words;
    for (size_t q = 0; q < whole; q += 16) {
      __m512i quads[16] = {};
      for (size_t i = 0; i < panel_rows; ++i) {
        quads[i] =
            _mm512_xor_si512(_mm512_loadu_si512(a.data + (panel + i) * a.row_step + 4 * q), flips);
      }
      transpose_words(quads);
      for (size_t w = 0; w < 16; ++w) _mm512_mask_storeu_epi32(to + (q + w) * mr, 0x0fff, quads[w]);
    }
  }
  pack_rows(a, rows, depth, mr, flip, block, whole);
}

void pack_a(StridedMatrix<std::uint8_t> a, size_t rows, size_t depth, Values values, word* block,
            word* row_sums) {
  if (a.column_step != 1) return pack_quads_a(a, rows, depth, values, block, row_sums);
  const word flip = values.is_signed ? 0x80808080u : 0u;
  pack_rows_by_sixteen(a, rows, depth, flip, block);
  if (row_sums == nullptr) return;
  for (size_t i = 0; i < rows; ++i)
    row_sums[i] = byte_sum(a.data + i * a.row_step, depth, static_cast<std::uint8_t>(flip));
}

// op(B) untransposed: each quad is four rows, interleaved a byte at a time, 64 columns (two
// panels) at once; the column sums come from the packed quads by vpdpbusd against ones.
void pack_b(StridedMatrix<std::uint8_t> b, size_t depth, size_t columns, Values values, word* block,
            word* column_sums) {
  if (b.column_step != 1) {
    pack_rows({b.data, b.column_step, b.row_step}, columns, depth, nr, 0, block);
  } else {
    const size_t words = (depth + 3) / 4;
    for (size_t q = 0; q < words; ++q) {
      for (size_t panel = 0; panel < columns; panel += 2 * nr) {
        const size_t left = columns - panel;
        const __mmask64 mask = left >= 64 ? ~__mmask64{0} : (__mmask64{1} << left) - 1;
        Quads64 quads(b.data + 4 * q * b.row_step + panel, b.row_step, depth - 4 * q, mask);
        in_column_order(quads.v);
        word* to = block + panel * words + q * nr;
        _mm512_storeu_si512(to, quads.v[0]);
        _mm512_storeu_si512(to + 16, quads.v[1]);
        if (left <= nr) continue;
        to += nr * words;  // the next panel
        _mm512_storeu_si512(to, quads.v[2]);
        _mm512_storeu_si512(to + 16, quads.v[3]);
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
  static constexpr Kernels kernels{
      4, mr, nr, tile, pack_a, pack_b, sum_rows, vnni::stored_a, vnni::stored};
  return kernels;
}

}  // namespace zum_runtime::gemm::kernels::int8
ZUM_TARGET_REGION_END
