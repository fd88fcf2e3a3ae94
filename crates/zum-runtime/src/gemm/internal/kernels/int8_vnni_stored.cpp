// The quad tiles on AVX-512 VNNI that read operands where they are stored: op(A)'s rows against
// a packed B panel, and a few rows of op(A) against an untransposed op(B).
#include <algorithm>
#include <array>
#include <utility>

#include "gemm/internal/kernels/int8_vnni.hpp"

ZUM_TARGET_REGION_BEGIN(ZUM_AVX512_VNNI_TARGET)
namespace zum_runtime::gemm::kernels::int8::vnni {
namespace {

template <size_t rows, size_t vectors>
void stored_a_rows(StridedMatrix<std::uint8_t> a, std::uint8_t flip, const word* b_panel,
                   size_t depth, const Output& out) {
  QuadSums<rows, vectors> sums(out);
  if (flip != 0) {
    sums.add(RowQuads<true>{a.data, a.row_step}, b_panel, 0, depth / 4);
  } else {
    sums.add(RowQuads<false>{a.data, a.row_step}, b_panel, 0, depth / 4);
  }
  if (depth % 4 != 0)
    sums.add(LastQuads{a.data, a.row_step, depth, flip}, b_panel, depth / 4, depth / 4 + 1);
  sums.store(out);
}

template <size_t vectors, size_t... rows>
constexpr auto stored_a_by_rows(std::index_sequence<rows...>) {
  using Tile =
      void (*)(StridedMatrix<std::uint8_t>, std::uint8_t, const word*, size_t, const Output&);
  return std::array<Tile, sizeof...(rows)>{stored_a_rows<rows + 1, vectors>...};
}

// `rows` rows against 64 columns of op(B) from `b`, over the whole depth; the column sums when
// `sum_columns`.
template <size_t rows, bool sum_columns>
void stored_columns(StridedMatrix<std::uint8_t> a, std::uint8_t flip, StridedMatrix<std::uint8_t> b,
                    size_t depth, word column_shift, const Output& out) {
  const __mmask64 columns = out.columns >= 64 ? ~__mmask64{0} : (__mmask64{1} << out.columns) - 1;
  const RowQuads<false> whole{a.data, a.row_step};
  const LastQuads last{a.data, a.row_step, depth, flip};
  const __m512i flips = _mm512_set1_epi8(static_cast<char>(flip));
  const __m512i ones = _mm512_set1_epi8(1);
  __m512i sums[rows][4] = {};
  __m512i column_sums[4] = {};
  for (size_t q = 0; q * 4 < depth; ++q) {
    const Quads64 quads(b.data + 4 * q * b.row_step, b.row_step, depth - 4 * q, columns);
    [&]<size_t... i>(std::index_sequence<i...>) {
      const auto row = [&](size_t r) {
        const __m512i a_quad =
            4 * q + 4 <= depth ? _mm512_xor_si512(whole.quad(r, q), flips) : last.quad(r, q);
        for (size_t v = 0; v < 4; ++v) sums[r][v] = add_quads(sums[r][v], a_quad, quads.v[v]);
      };
      (row(i), ...);
    }
    (std::make_index_sequence<rows>{});
    if constexpr (sum_columns) {
      for (size_t v = 0; v < 4; ++v) column_sums[v] = add_quads(column_sums[v], ones, quads.v[v]);
    }
  }
  in_column_order(column_sums);
  for (size_t v = 0; v < 4; ++v) {
    column_sums[v] = _mm512_mullo_epi32(column_sums[v], _mm512_set1_epi32(-int(column_shift)));
  }
  for (size_t i = 0; i < rows; ++i) {
    in_column_order(sums[i]);
    const __m512i row_offset = out.row_offsets != nullptr
                                   ? _mm512_set1_epi32(int(out.row_offsets[i]))
                                   : _mm512_setzero_si512();
    for (size_t v = 0; v < 4; ++v) {
      const size_t first = 16 * v;
      if (first >= out.columns) break;
      store_row(out.c + i * out.row_stride + first, sums[i][v],
                _mm512_add_epi32(column_sums[v], row_offset), lanes_below(out.columns - first),
                out.accumulate);
    }
  }
}

// Slabs of op(B)'s rows, each swept across every column before the next: the rows' bytes are
// then read along their length, as the prefetchers expect, and C takes each slab's sums.
constexpr size_t stored_slab_depth = 16;

template <size_t rows>
void stored_row_block(StridedMatrix<std::uint8_t> a, std::uint8_t flip,
                      StridedMatrix<std::uint8_t> b, size_t depth, word column_shift,
                      const Output& out) {
  for (size_t depth_start = 0; depth_start < depth; depth_start += stored_slab_depth) {
    const size_t slab = std::min(stored_slab_depth, depth - depth_start);
    for (size_t column = 0; column < out.columns; column += 64) {
      Output part = out;
      part.c += column;
      part.columns = std::min<size_t>(64, out.columns - column);
      if (depth_start != 0) {
        part.accumulate = true;
        part.row_offsets = nullptr;
      }
      const StridedMatrix<std::uint8_t> a_part = a.offset(0, depth_start);
      const StridedMatrix<std::uint8_t> b_part = b.offset(depth_start, column);
      if (column_shift != 0) {
        stored_columns<rows, true>(a_part, flip, b_part, slab, column_shift, part);
      } else {
        stored_columns<rows, false>(a_part, flip, b_part, slab, column_shift, part);
      }
    }
  }
}

}  // namespace

void stored_a(StridedMatrix<std::uint8_t> a, std::uint8_t flip, const word* b_panel, size_t depth,
              const Output& out) {
  static constexpr auto one_vector = stored_a_by_rows<1>(std::make_index_sequence<mr>{});
  static constexpr auto two_vectors = stored_a_by_rows<2>(std::make_index_sequence<mr>{});
  const auto& tiles = out.columns <= 16 ? one_vector : two_vectors;
  tiles[out.rows - 1](a, flip, b_panel, depth, out);
}

void stored(StridedMatrix<std::uint8_t> a, std::uint8_t flip, StridedMatrix<std::uint8_t> b,
            size_t depth, word column_shift, const Output& out) {
  using Rows = void (*)(StridedMatrix<std::uint8_t>, std::uint8_t, StridedMatrix<std::uint8_t>,
                        size_t, word, const Output&);
  static constexpr std::array<Rows, stored_rows> by_rows{stored_row_block<1>, stored_row_block<2>,
                                                         stored_row_block<3>, stored_row_block<4>};
  by_rows[out.rows - 1](a, flip, b, depth, column_shift, out);
}

}  // namespace zum_runtime::gemm::kernels::int8::vnni
ZUM_TARGET_REGION_END
