#include <algorithm>
#include <cstring>

#include "gemm/internal/block_packing.hpp"
#include "gemm/internal/int8_driver.hpp"
#include "gemm/internal/threads.hpp"

// The loops around the 8-bit integer tile: per slab of k (pc), op(A)'s rows packed once, with
// their offsets; per block of op(B)'s columns (jc), that block packed (or read from a packed
// B), with its offsets; then rows in blocks (ic) against its panels (jr), tile by tile (ir).
// Every slab adds its own offsets, so the slabs' sums add up to the call's.
namespace zum_runtime::gemm::driver {
namespace {

using kernels::round_up;
using kernels::int8::Kernels;
using kernels::int8::word;

// Block sizes as the bfloat16 tile's, in bytes: a slab is 512 words deep; a block of op(A)'s
// rows and one of op(B)'s columns take half a MiB each.
constexpr size_t slab_words = 512;
constexpr size_t block_rows = 240;
constexpr size_t block_columns = 256;

size_t slab_depth(const Kernels& kernels) {
  return slab_words * kernels.k_per_word;
}

bool is_quads(const Kernels& kernels) {
  return kernels.k_per_word == 4;
}

// d of the offsets: what a' adds to op(A)'s values, a' − (a − za).
word a_shift(const Int8Problem& q) {
  return static_cast<word>(q.a_values.zero_point + (q.a_values.is_signed ? 128 : 0));
}

// Row i's offset for a slab of `depth`: depth · d · zb − zb · Σ a'; sums in, offsets out.
void row_offsets(const Int8Problem& q, const Kernels& kernels, size_t depth, word* sums) {
  const size_t rows = q.operands.m;
  const auto zb = static_cast<word>(q.b_zero_point);
  if (!is_quads(kernels) || zb == 0) return std::fill(sums, sums + rows, 0u);
  const word constant = static_cast<word>(depth) * a_shift(q) * zb;
  for (size_t i = 0; i < rows; ++i) sums[i] = constant - zb * sums[i];
}

// Column j's offset: −d · Σ b; sums in, offsets out.
void column_offsets(const Int8Problem& q, const Kernels& kernels, size_t columns, word* sums) {
  const word d = a_shift(q);
  if (!is_quads(kernels) || d == 0) return std::fill(sums, sums + columns, 0u);
  for (size_t j = 0; j < columns; ++j) sums[j] = 0u - d * sums[j];
}

bool needs_row_sums(const Int8Problem& q, const Kernels& kernels) {
  return is_quads(kernels) && q.b_zero_point != 0;
}
bool needs_column_sums(const Int8Problem& q, const Kernels& kernels) {
  return is_quads(kernels) && a_shift(q) != 0;
}

struct Slab {
  size_t start;
  size_t depth;
  size_t index;
};

// A packed B's block of columns at `column` in slab `slab`, and its column sums into `sums`.
const word* packed_block(const Int8Problem& q, const Kernels& kernels, const Slab& slab,
                         size_t column, size_t columns, word* sums) {
  const PackedView<std::uint8_t>& packed = q.operands.packed_b;
  const auto* words = reinterpret_cast<const word*>(packed.data);
  const size_t first = packed.first_column + column;
  if (needs_column_sums(q, kernels)) {
    const word* from = q.packed_column_sums + slab.index * packed.padded_columns + first;
    std::copy(from, from + columns, sums);
  }
  return words + slab.index * slab_words * packed.padded_columns +
         first * kernels.words_of(slab.depth);
}

void run_block(const Int8Problem& q, const Kernels& kernels, const word* a_slab,
               const word* row_offsets, const word* b_block, const word* column_offsets,
               const Slab& slab, size_t column, size_t columns) {
  const Int8Operands& p = q.operands;
  const size_t words = kernels.words_of(slab.depth);
  const bool accumulate = slab.index > 0 || p.beta != 0;
  for (size_t row = 0; row < p.m; row += block_rows) {
    const size_t rows = std::min(block_rows, p.m - row);
    for (size_t panel = 0; panel < columns; panel += kernels.nr) {
      for (size_t tile = row; tile < row + rows; tile += kernels.mr) {
        const kernels::int8::Output out{p.c.data() + tile * p.c_row_stride + column + panel,
                                        p.c_row_stride,
                                        std::min(kernels.mr, row + rows - tile),
                                        std::min(kernels.nr, columns - panel),
                                        accumulate,
                                        row_offsets + tile,
                                        column_offsets + panel};
        kernels.tile(a_slab + tile * words, b_block + panel * words, words, out);
      }
    }
  }
}

void run_part(const Int8Problem& q, const Kernels& kernels) {
  const Int8Operands& p = q.operands;
  word* a_slab = workspace<word>(0, round_up(p.m, kernels.mr) * slab_words);
  word* b_buffer = is_packed(p) ? nullptr : workspace<word>(1, block_columns * slab_words);
  word* rows_offsets = workspace<word>(2, p.m);
  word* columns_offsets = workspace<word>(3, block_columns);
  const size_t depth_step = slab_depth(kernels);
  for (Slab slab{0, 0, 0}; slab.start < p.k; slab.start += depth_step, ++slab.index) {
    slab.depth = std::min(depth_step, p.k - slab.start);
    kernels.pack_a(op_a(p).offset(0, slab.start), p.m, slab.depth, q.a_values, a_slab,
                   needs_row_sums(q, kernels) ? rows_offsets : nullptr);
    row_offsets(q, kernels, slab.depth, rows_offsets);
    for (size_t column = 0; column < p.n; column += block_columns) {
      const size_t columns = std::min(block_columns, p.n - column);
      word* sums = needs_column_sums(q, kernels) ? columns_offsets : nullptr;
      const word* b_block = b_buffer;
      if (is_packed(p)) {
        b_block = packed_block(q, kernels, slab, column, columns, columns_offsets);
      } else {
        kernels.pack_b(op_b(p).offset(slab.start, column), slab.depth, columns,
                       {true, q.b_zero_point}, b_buffer, sums);
      }
      column_offsets(q, kernels, columns, columns_offsets);
      run_block(q, kernels, a_slab, rows_offsets, b_block, columns_offsets, slab, column, columns);
    }
  }
}

}  // namespace

void run_int8(const Int8Problem& q, const Kernels& kernels) {
  const Int8Operands& p = q.operands;
  if (p.m == 0 || p.n == 0) return;
  if (p.k == 0) {
    if (p.beta != 0) return;
    for (size_t row = 0; row < p.m; ++row) std::fill_n(p.c.data() + row * p.c_row_stride, p.n, 0);
    return;
  }
  const unsigned threads = threads_asked(p.threads);
  if (threads == 1) return run_part(q, kernels);
  const auto parts = parts_of(p, threads);
  run_parts(parts, [&](const Int8Operands& part) {
    Int8Problem piece = q;
    piece.operands = part;
    run_part(piece, kernels);
  });
}

Int8Packing int8_packing(size_t k, size_t n, const Kernels& kernels) {
  const size_t depth_step = slab_depth(kernels);
  const size_t slabs = (k + depth_step - 1) / depth_step;
  const size_t words = (k / depth_step) * slab_words + kernels.words_of(k % depth_step);
  const size_t padded = round_up(n, kernels.nr);
  const size_t sums = is_quads(kernels) ? slabs * padded : 0;
  return {kernels.nr, words * padded, (words * padded + sums) * sizeof(word)};
}

void pack_b_whole_int8(const Int8Problem& q, const Kernels& kernels, word* buffer) {
  const Int8Operands& p = q.operands;
  const Int8Packing packing = int8_packing(p.k, p.n, kernels);
  const size_t padded = round_up(p.n, kernels.nr);
  const size_t depth_step = slab_depth(kernels);
  for (Slab slab{0, 0, 0}; slab.start < p.k; slab.start += depth_step, ++slab.index) {
    slab.depth = std::min(depth_step, p.k - slab.start);
    word* sums = is_quads(kernels) ? buffer + packing.sums_offset + slab.index * padded : nullptr;
    kernels.pack_b(op_b(p).offset(slab.start, 0), slab.depth, p.n, {true, q.b_zero_point},
                   buffer + slab.index * slab_words * padded, sums);
    if (sums != nullptr) std::fill(sums + p.n, sums + padded, 0u);
  }
}

}  // namespace zum_runtime::gemm::driver
