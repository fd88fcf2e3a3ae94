#include <algorithm>

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
// Up to this many columns of op(B), or rows of op(A), an untransposed op(A) is read where
// stored: each row is read once either way, or its few rows stay in L1, and packing would
// only add a pass (README).
constexpr size_t stored_a_columns_limit = 32;
constexpr size_t stored_a_rows_limit = 32;

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

bool needs_row_sums(const Int8Problem& q, const Kernels& kernels) {
  return is_quads(kernels) && q.b_zero_point != 0;
}
bool needs_column_sums(const Int8Problem& q, const Kernels& kernels) {
  return is_quads(kernels) && a_shift(q) != 0;
}

// Row i's offset for a slab of `depth`: depth · d · zb − zb · Σ a'; sums in, offsets out. Where
// the row sums are not needed, neither are the offsets: the tiles take none.
void row_offsets(const Int8Problem& q, const Kernels& kernels, size_t depth, word* sums) {
  const size_t rows = q.operands.m;
  const auto zb = static_cast<word>(q.b_zero_point);
  if (!needs_row_sums(q, kernels)) return;
  const word constant = static_cast<word>(depth) * a_shift(q) * zb;
  for (size_t i = 0; i < rows; ++i) sums[i] = constant - zb * sums[i];
}

// Column j's offset: −d · Σ b; sums in, offsets out.
void column_offsets(const Int8Problem& q, const Kernels& kernels, size_t columns, word* sums) {
  const word d = a_shift(q);
  if (!needs_column_sums(q, kernels)) return;
  for (size_t j = 0; j < columns; ++j) sums[j] = 0u - d * sums[j];
}

std::uint8_t flip_of(const Int8Problem& q) {
  return q.a_values.is_signed ? 0x80 : 0;
}

// Σ a' of op(A)'s rows over a slab, where stored, into row offsets.
void stored_row_offsets(const Int8Problem& q, const Kernels& kernels, size_t depth_start,
                        size_t depth, word* offsets) {
  if (needs_row_sums(q, kernels)) {
    kernels.sum_rows(op_a(q.operands).offset(0, depth_start), q.operands.m, depth, flip_of(q),
                     offsets);
  }
  row_offsets(q, kernels, depth, offsets);
}

bool reads_a_stored(const Int8Problem& q, const Kernels& kernels) {
  return kernels.stored_a != nullptr && q.operands.transpose_a == Transpose::no &&
         (q.operands.n <= stored_a_columns_limit || q.operands.m <= stored_a_rows_limit);
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

// Every block of op(A)'s rows against a block of op(B)'s columns; a null a_slab reads op(A)
// where stored.
void run_block(const Int8Problem& q, const Kernels& kernels, const word* a_slab,
               const word* row_offsets, const word* b_block, const word* column_offsets,
               const Slab& slab, size_t column, size_t columns) {
  const Int8Operands& p = q.operands;
  const size_t words = kernels.words_of(slab.depth);
  const bool accumulate = slab.index > 0 || p.beta != 0;
  for (size_t row = 0; row < p.m; row += block_rows) {
    const size_t rows = std::min(block_rows, p.m - row);
    // A stored op(A) splits the block's rows evenly: 16 rows run as two tiles of 8, not 12 and
    // a 4-row tile that does a third of the work a step. Packed panels are mr rows each.
    const size_t tiles = (rows + kernels.mr - 1) / kernels.mr;
    const size_t tile_rows = a_slab == nullptr ? (rows + tiles - 1) / tiles : kernels.mr;
    for (size_t panel = 0; panel < columns; panel += kernels.nr) {
      for (size_t tile = row; tile < row + rows; tile += tile_rows) {
        const kernels::int8::Output out{p.c.data() + tile * p.c_row_stride + column + panel,
                                        p.c_row_stride,
                                        std::min(tile_rows, row + rows - tile),
                                        std::min(kernels.nr, columns - panel),
                                        accumulate,
                                        row_offsets ? row_offsets + tile : nullptr,
                                        column_offsets ? column_offsets + panel : nullptr};
        if (a_slab == nullptr) {
          kernels.stored_a(op_a(p).offset(tile, slab.start), flip_of(q), b_block + panel * words,
                           slab.depth, out);
        } else {
          kernels.tile(a_slab + tile * words, b_block + panel * words, words, out);
        }
      }
    }
  }
}

void run_part(const Int8Problem& q, const Kernels& kernels) {
  const Int8Operands& p = q.operands;
  const bool a_stored = reads_a_stored(q, kernels);
  word* a_slab = a_stored ? nullptr : workspace<word>(0, round_up(p.m, kernels.mr) * slab_words);
  word* b_buffer = is_packed(p) ? nullptr : workspace<word>(1, block_columns * slab_words);
  word* rows_offsets = workspace<word>(2, p.m);
  word* columns_offsets = workspace<word>(3, block_columns);
  const size_t depth_step = slab_depth(kernels);
  for (Slab slab{0, 0, 0}; slab.start < p.k; slab.start += depth_step, ++slab.index) {
    slab.depth = std::min(depth_step, p.k - slab.start);
    if (a_stored) {
      stored_row_offsets(q, kernels, slab.start, slab.depth, rows_offsets);
    } else {
      kernels.pack_a(op_a(p).offset(0, slab.start), p.m, slab.depth, q.a_values, a_slab,
                     needs_row_sums(q, kernels) ? rows_offsets : nullptr);
      row_offsets(q, kernels, slab.depth, rows_offsets);
    }
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
      run_block(q, kernels, a_slab, needs_row_sums(q, kernels) ? rows_offsets : nullptr, b_block,
                needs_column_sums(q, kernels) ? columns_offsets : nullptr, slab, column, columns);
    }
  }
}

// Both operands where stored, the few rows against every column, over the whole depth.
void run_stored_part(const Int8Problem& q, const Kernels& kernels) {
  const Int8Operands& p = q.operands;
  word* offsets = workspace<word>(2, p.m);
  stored_row_offsets(q, kernels, 0, p.k, offsets);
  const word column_shift = needs_column_sums(q, kernels) ? a_shift(q) : 0;
  kernels.stored(op_a(p), flip_of(q), op_b(p), p.k, column_shift,
                 {p.c.data(), p.c_row_stride, p.m, p.n, p.beta != 0,
                  needs_row_sums(q, kernels) ? offsets : nullptr, nullptr});
}

}  // namespace

bool reads_int8_a_stored(const Int8Problem& q, const Kernels& kernels) {
  return reads_a_stored(q, kernels);
}

bool runs_int8_stored(const Int8Problem& q, const Kernels& kernels) {
  const Int8Operands& p = q.operands;
  return kernels.stored != nullptr && !is_packed(p) && p.transpose_a == Transpose::no &&
         p.transpose_b == Transpose::no && p.m <= kernels::int8::stored_rows;
}

void run_int8(const Int8Problem& q, const Kernels& kernels) {
  const Int8Operands& p = q.operands;
  if (p.m == 0 || p.n == 0) return;
  if (p.k == 0) {
    if (p.beta != 0) return;
    for (size_t row = 0; row < p.m; ++row) std::fill_n(p.c.data() + row * p.c_row_stride, p.n, 0);
    return;
  }
  const auto part = runs_int8_stored(q, kernels) ? run_stored_part : run_part;
  const unsigned threads = threads_asked(p.threads);
  if (threads == 1) return part(q, kernels);
  run_parts(parts_of(p, threads), [&](const Int8Operands& operands) {
    Int8Problem piece = q;
    piece.operands = operands;
    part(piece, kernels);
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
