#include "gemm/internal/kernels/int8_tile.hpp"

// The 8-bit integer tiles and packers as scalar loops: the definitions the vector kernels are
// held to. Sums run in unsigned 32-bit arithmetic, which wraps as the vector lanes do.
namespace zum_runtime::gemm::kernels::int8 {
namespace {

// Lane `lane` of a word: a byte of a quad, or an int16 of a pair.
std::uint8_t byte_of(word w, size_t lane) {
  return static_cast<std::uint8_t>(w >> (8 * lane));
}
std::int16_t half_of(word w, size_t lane) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(w >> (16 * lane)));
}

// One lane of vpdpbusd: four unsigned bytes of a by the signed bytes of b.
word quad_dot(word a, word b) {
  word sum = 0;
  for (size_t lane = 0; lane < 4; ++lane) {
    const std::int32_t product =
        std::int32_t{byte_of(a, lane)} * std::int32_t{static_cast<std::int8_t>(byte_of(b, lane))};
    sum += static_cast<word>(product);
  }
  return sum;
}

// One lane of vpmaddwd.
word pair_dot(word a, word b) {
  const std::int32_t low = std::int32_t{half_of(a, 0)} * std::int32_t{half_of(b, 0)};
  const std::int32_t high = std::int32_t{half_of(a, 1)} * std::int32_t{half_of(b, 1)};
  return static_cast<word>(low) + static_cast<word>(high);
}

// c(i, j) ← (accumulate ? c(i, j) : 0) + sum + row i's offset.
void store_with_row_offset(word sum, size_t i, size_t j, const Output& out) {
  std::int32_t& c = out.c[i * out.row_stride + j];
  const word before = out.accumulate ? static_cast<word>(c) : 0;
  const word row_offset = out.row_offsets != nullptr ? out.row_offsets[i] : 0u;
  c = static_cast<std::int32_t>(before + sum + row_offset);
}

void store(word sum, size_t i, size_t j, const Output& out) {
  const word column_offset = out.column_offsets != nullptr ? out.column_offsets[j] : 0u;
  store_with_row_offset(sum + column_offset, i, j, out);
}

template <word (*dot)(word, word), size_t mr, size_t nr>
void tile(const word* a_panel, const word* b_panel, size_t words, const Output& out) {
  for (size_t i = 0; i < out.rows; ++i) {
    for (size_t j = 0; j < out.columns; ++j) {
      word sum = 0;
      for (size_t q = 0; q < words; ++q) sum += dot(a_panel[q * mr + i], b_panel[q * nr + j]);
      store(sum, i, j, out);
    }
  }
}

// Panels of `width` lines of x (rows of op(A), or columns of op(B) seen as rows), `count` lines
// in all, each line's groups of k: line i's word q at q · width + i of its panel. `lane(x, i,
// p)` is the bits element p of line i takes in its word, `line_sum` (if not null) receives
// each line's sum of `value(x, i, p)`.
template <size_t k_per_word, typename Lane, typename Value>
void pack_panels(StridedMatrix<std::uint8_t> x, size_t count, size_t depth, size_t width,
                 word* block, word* line_sums, Lane lane, Value value) {
  const size_t words = (depth + k_per_word - 1) / k_per_word;
  constexpr size_t bits = 32 / k_per_word;
  for (size_t panel = 0; panel < count; panel += width) {
    word* to = block + panel * words;
    for (size_t i = 0; i < width; ++i) {
      const size_t line = panel + i;
      word sum = 0;
      for (size_t q = 0; q < words; ++q) {
        word w = 0;
        for (size_t e = 0; e < k_per_word && line < count && q * k_per_word + e < depth; ++e) {
          const size_t p = q * k_per_word + e;
          w |= lane(x.at(line, p)) << (bits * e);
          sum += value(x.at(line, p));
        }
        to[q * width + i] = w;
      }
      if (line_sums != nullptr && line < count) line_sums[line] = sum;
    }
  }
}

StridedMatrix<std::uint8_t> along_k(StridedMatrix<std::uint8_t> b) {
  return {b.data, b.column_step, b.row_step};
}

// Quads: A's byte as an unsigned byte (signed A shifted by 128), B's byte as stored.
void pack_quads(StridedMatrix<std::uint8_t> x, size_t count, size_t depth, size_t width, bool shift,
                word* block, word* sums, bool b_side) {
  const word flip = shift ? 0x80u : 0u;
  const auto lane = [flip](std::uint8_t byte) { return word{byte} ^ flip; };
  const auto value = [flip, b_side](std::uint8_t byte) {
    return b_side ? static_cast<word>(std::int32_t{static_cast<std::int8_t>(byte)})
                  : (word{byte} ^ flip);
  };
  pack_panels<4>(x, count, depth, width, block, sums, lane, value);
}

// Pairs: each value less its zero point, as an int16.
void pack_pairs(StridedMatrix<std::uint8_t> x, size_t count, size_t depth, size_t width,
                Values values, word* block) {
  const auto lane = [values](std::uint8_t byte) {
    return word{static_cast<std::uint16_t>(values.of(byte))};
  };
  const auto none = [](std::uint8_t) { return word{0}; };
  pack_panels<2>(x, count, depth, width, block, nullptr, lane, none);
}

word a_quad_at(StridedMatrix<std::uint8_t> a, size_t i, size_t q, size_t depth, std::uint8_t flip) {
  word w = 0;
  for (size_t e = 0; e < 4 && 4 * q + e < depth; ++e)
    w |= word{static_cast<std::uint8_t>(a.at(i, 4 * q + e) ^ flip)} << (8 * e);
  return w;
}

void stored_a(StridedMatrix<std::uint8_t> a, std::uint8_t flip, const word* b_panel, size_t depth,
              const Output& out) {
  for (size_t i = 0; i < out.rows; ++i) {
    for (size_t j = 0; j < out.columns; ++j) {
      word sum = 0;
      for (size_t q = 0; q * 4 < depth; ++q)
        sum += quad_dot(a_quad_at(a, i, q, depth, flip), b_panel[q * quad_nr + j]);
      store(sum, i, j, out);
    }
  }
}

void stored(StridedMatrix<std::uint8_t> a, std::uint8_t flip, StridedMatrix<std::uint8_t> b,
            size_t depth, word column_shift, const Output& out) {
  for (size_t j = 0; j < out.columns; ++j) {
    word column_sum = 0;
    for (size_t p = 0; p < depth; ++p)
      column_sum += static_cast<word>(std::int32_t{static_cast<std::int8_t>(b.at(p, j))});
    const word offset = 0u - column_shift * column_sum;
    for (size_t i = 0; i < out.rows; ++i) {
      word sum = 0;
      for (size_t p = 0; p < depth; ++p) {
        sum += static_cast<word>(std::int32_t{static_cast<std::uint8_t>(a.at(i, p) ^ flip)} *
                                 std::int32_t{static_cast<std::int8_t>(b.at(p, j))});
      }
      store_with_row_offset(sum + offset, i, j, out);
    }
  }
}

}  // namespace

void sum_quad_rows(StridedMatrix<std::uint8_t> a, size_t rows, size_t depth, std::uint8_t flip,
                   word* sums) {
  for (size_t i = 0; i < rows; ++i) {
    word sum = 0;
    for (size_t p = 0; p < depth; ++p) sum += static_cast<std::uint8_t>(a.at(i, p) ^ flip);
    sums[i] = sum;
  }
}

void pack_quads_a(StridedMatrix<std::uint8_t> a, size_t rows, size_t depth, Values values,
                  word* block, word* row_sums) {
  pack_quads(a, rows, depth, quad_mr, values.is_signed, block, row_sums, false);
}
void pack_quads_b(StridedMatrix<std::uint8_t> b, size_t depth, size_t columns, Values, word* block,
                  word* column_sums) {
  pack_quads(along_k(b), columns, depth, quad_nr, false, block, column_sums, true);
}
void pack_pairs_a(StridedMatrix<std::uint8_t> a, size_t rows, size_t depth, Values values,
                  word* block, word*) {
  pack_pairs(a, rows, depth, pair_mr, values, block);
}
void pack_pairs_b(StridedMatrix<std::uint8_t> b, size_t depth, size_t columns, Values values,
                  word* block, word*) {
  pack_pairs(along_k(b), columns, depth, pair_nr, values, block);
}

const Kernels& scalar_quads() {
  static constexpr Kernels kernels{4,
                                   quad_mr,
                                   quad_nr,
                                   tile<quad_dot, quad_mr, quad_nr>,
                                   pack_quads_a,
                                   pack_quads_b,
                                   sum_quad_rows,
                                   stored_a,
                                   stored};
  return kernels;
}

const Kernels& scalar_pairs() {
  static constexpr Kernels kernels{
      2,       pair_mr, pair_nr, tile<pair_dot, pair_mr, pair_nr>, pack_pairs_a, pack_pairs_b,
      nullptr, nullptr, nullptr};
  return kernels;
}

}  // namespace zum_runtime::gemm::kernels::int8
