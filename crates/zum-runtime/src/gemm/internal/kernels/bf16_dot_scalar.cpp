#include <cmath>
#include <cstring>

#include "gemm/internal/kernels/bf16_dot_tile.hpp"

// The dot-product tile and its packers as scalar loops: the definitions the AVX-512 BF16
// kernels are held to, and the packers those kernels use where no vector form pays.
namespace zum_runtime::gemm::kernels::bf16_dot {
namespace {

word pair_word(bfloat16 low, bfloat16 high) {
  return word{low.bits()} | word{high.bits()} << 16;
}

// Element (i, p) of a stored operand, zero past its depth.
bfloat16 element_or_zero(StridedMatrix<bfloat16> x, size_t i, size_t p, size_t depth) {
  return p < depth ? x.at(i, p) : bfloat16::from_bits(0);
}

// The pair word of k steps 2p and 2p + 1 of row i of `x` (k along its columns).
word pair_at(StridedMatrix<bfloat16> x, size_t i, size_t p, size_t depth) {
  return pair_word(element_or_zero(x, i, 2 * p, depth), element_or_zero(x, i, 2 * p + 1, depth));
}

void store(float sum, float& c, const Output<float>& out) {
  c = out.beta != 0.0f ? std::fma(out.alpha, sum, out.beta * c) : out.alpha * sum;
}

void stored(StridedMatrix<bfloat16> a, StridedMatrix<bfloat16> b, size_t depth, Output<float> out) {
  const StridedMatrix<bfloat16> b_along_k{b.data, b.column_step, b.row_step};
  for (size_t i = 0; i < out.rows; ++i) {
    for (size_t j = 0; j < out.columns; ++j) {
      float sum = 0.0f;
      for (size_t p = 0; p < pairs_of(depth); ++p)
        sum = scalar::dot_pair(sum, pair_at(a, i, p, depth), pair_at(b_along_k, j, p, depth));
      store(sum, out.c[i * out.row_stride + j], out);
    }
  }
}

void stored_a(StridedMatrix<bfloat16> a, const word* b_panel, size_t depth, Output<float> out) {
  for (size_t i = 0; i < out.rows; ++i) {
    for (size_t j = 0; j < out.columns; ++j) {
      float sum = 0.0f;
      for (size_t p = 0; p < pairs_of(depth); ++p)
        sum = scalar::dot_pair(sum, pair_at(a, i, p, depth), b_panel[p * nr + j]);
      store(sum, out.c[i * out.row_stride + j], out);
    }
  }
}

void tile(const word* a_panel, const word* b_panel, size_t pairs, Output<float> out) {
  for (size_t i = 0; i < out.rows; ++i) {
    for (size_t j = 0; j < out.columns; ++j) {
      float sum = 0.0f;
      for (size_t p = 0; p < pairs; ++p)
        sum = scalar::dot_pair(sum, a_panel[p * mr + i], b_panel[p * nr + j]);
      store(sum, out.c[i * out.row_stride + j], out);
    }
  }
}

// Panels of `width` lines of x (rows of op(A), or columns of op(B) seen as rows), `count`
// lines in all, each line's pairs of k: line i's pair p at word p · width + i of its panel.
void pack_panels(StridedMatrix<bfloat16> x, size_t count, size_t depth, size_t width, word* block) {
  const size_t pairs = pairs_of(depth);
  for (size_t panel = 0; panel < count; panel += width) {
    word* to = block + panel * pairs;
    for (size_t p = 0; p < pairs; ++p) {
      for (size_t i = 0; i < width; ++i) {
        const size_t line = panel + i;
        to[p * width + i] = line < count ? pair_at(x, line, p, depth) : 0;
      }
    }
  }
}

void pack_a(StridedMatrix<bfloat16> a, size_t rows, size_t depth, word* block) {
  pack_panels(a, rows, depth, mr, block);
}

// b(p, j) is op(B)'s element: the strided view is op(B) with its rows along k.
void pack_b(StridedMatrix<bfloat16> b, size_t depth, size_t columns, word* block) {
  pack_panels({b.data, b.column_step, b.row_step}, columns, depth, nr, block);
}

}  // namespace

const DotKernels& scalar_kernels() {
  static constexpr DotKernels kernels{tile, pack_a, pack_b, stored, stored_a};
  return kernels;
}

}  // namespace zum_runtime::gemm::kernels::bf16_dot
