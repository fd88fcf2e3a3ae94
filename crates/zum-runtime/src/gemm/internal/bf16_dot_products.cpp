#include <algorithm>

#include "gemm/internal/bf16_driver.hpp"
#include "gemm/internal/block_packing.hpp"
#include "gemm/internal/kernels/bf16_dot_tile.hpp"
#include "gemm/internal/threads.hpp"

// The dot-product way, the loops around the bfloat16 tile: per slab of k (pc), op(A)'s rows
// packed once; per block of op(B)'s columns (jc), that block packed (or read from a packed
// B), then rows in blocks (ic) against its panels (jr), tile by tile (ir).
namespace zum_runtime::gemm::driver {
namespace {

using kernels::Output;
using kernels::round_up;
namespace dot = kernels::bf16_dot;
using dot::word;

// Block sizes, measured (README): a slab is kc deep (even, whole pairs); a block of op(A)'s
// rows (mc × kc) and one of op(B) (kc × nc) take half a MiB each. Deep slabs pay: C is read
// and written once a slab, and the tile's 24 dot products a step hide B's panel in L2.
constexpr size_t slab_depth = 1024;
constexpr size_t block_rows = 240;
constexpr size_t block_columns = 256;
static_assert(slab_depth % 2 == 0 && block_rows % dot::mr == 0 && block_columns % dot::nr == 0);
// Up to this many rows of op(A), an untransposed op(B) is read where stored: packing it would
// cost more than the few rows' multiply (README).
constexpr size_t stored_rows_limit = 4;
// Up to this many columns of op(B), an untransposed op(A) is read where stored.
constexpr size_t stored_a_columns_limit = 32;

const dot::DotKernels& dot_kernels() {
#if defined(__x86_64__)
  return dot::avx512_bf16_kernels();
#else
  return dot::scalar_kernels();
#endif
}

// A packed B slab by slab, each slab's panels across the padded columns.
const word* packed_panels(const Bf16Problem& p, size_t depth_start, size_t column, size_t pairs) {
  const auto* words = reinterpret_cast<const word*>(p.packed_b.data);
  return words + depth_start / 2 * p.packed_b.padded_columns +
         (p.packed_b.first_column + column) * pairs;
}

// op(A)'s slab as the tiles read it: packed, or (`stored`) where it is stored.
struct ASlab {
  const word* packed;
  StridedMatrix<bfloat16> stored;
  size_t depth;
};

// Every block of op(A)'s rows against the block of op(B)'s columns at `column`.
void run_block(const Bf16Problem& p, const ASlab& a, const word* b_block, size_t column,
               size_t columns, const Output<float>& out) {
  const dot::DotKernels& kernels = dot_kernels();
  const size_t pairs = dot::pairs_of(a.depth);
  for (size_t row = 0; row < p.m; row += block_rows) {
    const size_t rows = std::min(block_rows, p.m - row);
    for (size_t panel = 0; panel < columns; panel += dot::nr) {
      for (size_t tile = row; tile < row + rows; tile += dot::mr) {
        const Output<float> into =
            out.offset(tile, column + panel)
                .shape(std::min(dot::mr, row + rows - tile), std::min(dot::nr, columns - panel));
        if (a.packed == nullptr) {
          kernels.stored_a(a.stored.offset(tile, 0), b_block + panel * pairs, a.depth, into);
        } else {
          kernels.tile(a.packed + tile * pairs, b_block + panel * pairs, pairs, into);
        }
      }
    }
  }
}

// An untransposed op(A) against one panel of columns is read once either way: packing it
// would only add a pass.
bool reads_a_stored(const Bf16Problem& p) {
  return p.transpose_a == Transpose::no && p.n <= stored_a_columns_limit;
}

void run_part(const Bf16Problem& p) {
  const dot::DotKernels& kernels = dot_kernels();
  const size_t slab_pairs = dot::pairs_of(slab_depth);
  const bool a_stored = reads_a_stored(p);
  word* a_slab = a_stored ? nullptr : workspace<word>(0, round_up(p.m, dot::mr) * slab_pairs);
  word* b_buffer = is_packed(p) ? nullptr : workspace<word>(1, block_columns * slab_pairs);
  Output<float> out{p.c.data(), p.c_row_stride, p.m, p.n, p.alpha, p.beta};
  for (size_t depth_start = 0; depth_start < p.k; depth_start += slab_depth) {
    const size_t depth = std::min(slab_depth, p.k - depth_start);
    const ASlab a{a_slab, op_a(p).offset(0, depth_start), depth};
    if (!a_stored) kernels.pack_a(a.stored, p.m, depth, a_slab);
    for (size_t column = 0; column < p.n; column += block_columns) {
      const size_t columns = std::min(block_columns, p.n - column);
      const word* b_block = b_buffer;
      if (is_packed(p)) {
        b_block = packed_panels(p, depth_start, column, dot::pairs_of(depth));
      } else {
        kernels.pack_b(op_b(p).offset(depth_start, column), depth, columns, b_buffer);
      }
      run_block(p, a, b_block, column, columns, out);
    }
    out.beta = 1.0f;  // every slab after the first adds to what C holds
  }
}

// Both operands where stored: per slab of k (the packed way's slabs, so that the sums run
// the same steps), op(B)'s columns in blocks, the few rows against each.
void run_stored_part(const Bf16Problem& p) {
  const dot::DotKernels& kernels = dot_kernels();
  Output<float> out{p.c.data(), p.c_row_stride, p.m, p.n, p.alpha, p.beta};
  for (size_t depth_start = 0; depth_start < p.k; depth_start += slab_depth) {
    const size_t depth = std::min(slab_depth, p.k - depth_start);
    for (size_t column = 0; column < p.n; column += dot::stored_columns) {
      for (size_t row = 0; row < p.m; row += dot::stored_rows) {
        kernels.stored(op_a(p).offset(row, depth_start), op_b(p).offset(depth_start, column), depth,
                       out.offset(row, column)
                           .shape(std::min(dot::stored_rows, p.m - row),
                                  std::min(dot::stored_columns, p.n - column)));
      }
    }
    out.beta = 1.0f;
  }
}

}  // namespace

bool runs_stored(const Bf16Problem& p) {
  return !is_packed(p) && p.transpose_b == Transpose::no && p.m <= stored_rows_limit;
}

void run_dot_products(const Bf16Problem& p) {
  const auto part = runs_stored(p) ? run_stored_part : run_part;
  const unsigned threads = threads_asked(p.threads);
  if (threads == 1) return part(p);
  run_parts(parts_of(p, threads), part);
}

size_t pair_panels_bytes(size_t k, size_t n) {
  const size_t full_slabs = k / slab_depth;
  const size_t pairs = full_slabs * dot::pairs_of(slab_depth) + dot::pairs_of(k % slab_depth);
  return pairs * round_up(n, dot::nr) * sizeof(word);
}

void pack_pair_panels_whole(const Bf16Problem& p, word* buffer) {
  const size_t padded_columns = round_up(p.n, dot::nr);
  for (size_t depth_start = 0; depth_start < p.k; depth_start += slab_depth) {
    const size_t depth = std::min(slab_depth, p.k - depth_start);
    dot_kernels().pack_b(op_b(p).offset(depth_start, 0), depth, p.n,
                         buffer + depth_start / 2 * padded_columns);
  }
}

}  // namespace zum_runtime::gemm::driver
