#pragma once

#include <cstddef>
#include <cstdint>

#include "gemm/internal/operands.hpp"

// The 8-bit integer tiles. Both packed operands hold consecutive k side by side inside 32-bit
// words, as the instructions consume them, in two forms:
//
//   quads (AVX-512 VNNI, vpdpbusd: four unsigned × signed byte products added to an int32)
//     A panel (mr rows):    word[q · mr + i] = bytes a'(i, 4q .. 4q + 3), a' = a, or a + 128
//                                              for signed A (its byte with the top bit flipped)
//     B panel (nr columns): word[q · nr + j] = bytes b(4q .. 4q + 3, j), signed
//   pairs (vpmaddwd: two int16 × int16 products added to an int32, exact for these values)
//     A panel:              word[p · mr + i] = int16 (a(i, 2p) − a_zero, a(i, 2p + 1) − a_zero)
//     B panel:              word[p · nr + j] = int16 (b(2p, j) − b_zero, b(2p + 1, j) − b_zero)
//
// Element 4q (or 2p) sits in the low bits; k past the depth is zero, and so are rows and columns
// padding a panel. A block is its panels one after another. Pairs hold each operand's zero
// point already subtracted: every value lies in [−255, 255], so two products stay below 2¹⁷.
// Quads cannot hold a shifted value in a byte, so the zero points and signed A's shift of 128
// come back as per-row and per-column offsets:
//
//   Σₚ (a − za)(b − zb) = Σₚ a'·b − zb·Σₚ a' − d·Σₚ b + depth·d·zb,   d = za (+ 128 signed A)
//
// All sums are exact modulo 2³², as int32 lanes add.
namespace zum_runtime::gemm::kernels::int8 {

using std::size_t;
using word = std::uint32_t;

// How a stored byte reads as a number: unsigned or two's complement, less the zero point.
struct Values {
  bool is_signed;
  std::int32_t zero_point;

  std::int32_t of(std::uint8_t byte) const {
    const std::int32_t value = is_signed ? std::int32_t{static_cast<std::int8_t>(byte)} : byte;
    return value - zero_point;
  }
};

// Where a tile's sums go: c(i, j) ← (accumulate ? c(i, j) : 0) + sum + row_offsets[i] +
// column_offsets[j], wrapping modulo 2³², over `rows` × `columns` from `c` on. Null offsets
// are zeros (unsigned A and no zero points need none).
struct Output {
  std::int32_t* c;
  size_t row_stride;
  size_t rows;
  size_t columns;
  bool accumulate;
  const word* row_offsets;
  const word* column_offsets;
};

// The kernels of one form on one path.
struct Kernels {
  size_t k_per_word;  // 4: quads, 2: pairs
  size_t mr;
  size_t nr;
  // The tile: out.rows ≤ mr rows × out.columns ≤ nr columns over `words` words of k.
  void (*tile)(const word* a_panel, const word* b_panel, size_t words, const Output& out);
  // op(A)'s rows × depth into a block of A panels; quads also write Σₚ a' of each row into
  // row_sums where it is not null.
  void (*pack_a)(StridedMatrix<std::uint8_t> a, size_t rows, size_t depth, Values values,
                 word* block, word* row_sums);
  // op(B)'s depth × columns into a block of B panels; quads also write Σₚ b of each column into
  // column_sums where it is not null.
  void (*pack_b)(StridedMatrix<std::uint8_t> b, size_t depth, size_t columns, Values values,
                 word* block, word* column_sums);

  // Quads only, null for pairs. `flip` is 0x80 for signed A, else 0: a' is a byte ^ flip.
  // Σₚ a' of each of `rows` rows of op(A) where stored (a.column_step 1), into sums.
  void (*sum_rows)(StridedMatrix<std::uint8_t> a, size_t rows, size_t depth, std::uint8_t flip,
                   word* sums);
  // The tile with op(A)'s out.rows ≤ mr rows read where stored (a.column_step 1), against a B
  // panel over `depth` steps of k.
  void (*stored_a)(StridedMatrix<std::uint8_t> a, std::uint8_t flip, const word* b_panel,
                   size_t depth, const Output& out);
  // Both operands where stored: op(A)'s out.rows ≤ stored_rows rows (a.column_step 1) and op(B)
  // untransposed (b.column_step 1), any out.columns. Column j's offset is −column_shift · Σₚ b,
  // summed as it goes; out.column_offsets is not read.
  void (*stored)(StridedMatrix<std::uint8_t> a, std::uint8_t flip, StridedMatrix<std::uint8_t> b,
                 size_t depth, word column_shift, const Output& out);

  size_t words_of(size_t depth) const { return (depth + k_per_word - 1) / k_per_word; }
};

inline constexpr size_t quad_mr = 12;  // 12 rows × 2 zmm: 24 accumulators
inline constexpr size_t quad_nr = 32;
inline constexpr size_t stored_rows = 4;  // both where stored: 4 rows × 4 zmm of 64 columns
inline constexpr size_t pair_mr = 6;      // 6 rows × 2 ymm: 12 accumulators of 16 registers
inline constexpr size_t pair_nr = 16;

// The definitions every path's kernels are held to, and the packers where no vector form pays.
const Kernels& scalar_quads();
const Kernels& scalar_pairs();
#if defined(__x86_64__)
const Kernels& avx512_vnni_quads();
const Kernels& avx2_pairs();
#endif

// The scalar packers, for the vector kernels' tables.
void pack_quads_a(StridedMatrix<std::uint8_t> a, size_t rows, size_t depth, Values values,
                  word* block, word* row_sums);
void sum_quad_rows(StridedMatrix<std::uint8_t> a, size_t rows, size_t depth, std::uint8_t flip,
                   word* sums);
void pack_quads_b(StridedMatrix<std::uint8_t> b, size_t depth, size_t columns, Values values,
                  word* block, word* column_sums);
void pack_pairs_a(StridedMatrix<std::uint8_t> a, size_t rows, size_t depth, Values values,
                  word* block, word* row_sums);
void pack_pairs_b(StridedMatrix<std::uint8_t> b, size_t depth, size_t columns, Values values,
                  word* block, word* column_sums);

}  // namespace zum_runtime::gemm::kernels::int8
