#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "pack/internal/kernels.hpp"
#include "pack/internal/row_kernels.hpp"
#include "pack/internal/transpose_kernels.hpp"

// Which kernel and which walk each path runs, for each family and element width: one row
// each. Internal to the packing kernels' dispatch.
namespace zum_runtime::blocked_data::kernels {

enum class Kernel : std::uint8_t {
  scalar,                  // the family's scalar definition
  plain_row,               // family A: a panel row as one vector
  permuted_row,            // family C: a row of 16 in one register, one permute
  zipped_row_halves,       // family C: a row's halves a register at a time, pairs zipped
  zip_transpose,           // family B: k × k blocks by zip rounds
  lane_shuffle_transpose,  // family B, 4-byte words: x86's in-lane shuffles
};

enum class Walk : std::uint8_t {
  column_panels,     // families A and C
  row_group_panels,  // family B
};

struct KernelChoice {
  SimdPath path;
  char family;
  std::size_t word_bytes;
  Kernel kernel;
  Walk walk;
  SimdPath compiled_for;  // the instruction set the kernel and walk are compiled for
};

// The rows, written in short names that stay inside this namespace.
namespace table_rows {
using enum SimdPath;
using enum Kernel;
using enum Walk;
inline constexpr Walk columns = column_panels;
inline constexpr Walk row_groups = row_group_panels;

// Family C permutes a row where its 16 words fit a register, and zips its halves otherwise.
// Family B packs 4-byte words as quads where a register holds 8 of them.
inline constexpr KernelChoice kernel_table[] = {
    // path  family bytes kernel walk compiled for
    {generic, 'A', 1, scalar, columns, generic},
    {generic, 'A', 2, scalar, columns, generic},
    {generic, 'A', 4, scalar, columns, generic},
    {generic, 'A', 8, scalar, columns, generic},
    {generic, 'B', 1, scalar, row_groups, generic},
    {generic, 'B', 2, scalar, row_groups, generic},
    {generic, 'B', 4, scalar, row_groups, generic},
    {generic, 'B', 8, scalar, row_groups, generic},
    {generic, 'C', 1, scalar, columns, generic},
    {generic, 'C', 2, scalar, columns, generic},
    {generic, 'C', 4, scalar, columns, generic},
    {generic, 'C', 8, scalar, columns, generic},
#if ZUM_X86_64
    {sse2, 'A', 1, plain_row, columns, sse2},
    {sse2, 'A', 2, plain_row, columns, sse2},
    {sse2, 'A', 4, plain_row, columns, sse2},
    {sse2, 'A', 8, plain_row, columns, sse2},
    {sse2, 'B', 1, zip_transpose, row_groups, sse2},
    {sse2, 'B', 2, zip_transpose, row_groups, sse2},
    {sse2, 'B', 4, zip_transpose, row_groups, sse2},
    {sse2, 'B', 8, zip_transpose, row_groups, sse2},
    {sse2, 'C', 1, permuted_row, columns, sse2},
    {sse2, 'C', 2, zipped_row_halves, columns, sse2},
    {sse2, 'C', 4, zipped_row_halves, columns, sse2},
    {sse2, 'C', 8, zipped_row_halves, columns, sse2},
    {avx2, 'A', 1, plain_row, columns, avx2},
    {avx2, 'A', 2, plain_row, columns, avx2},
    {avx2, 'A', 4, plain_row, columns, avx2},
    {avx2, 'A', 8, plain_row, columns, avx2},
    {avx2, 'B', 1, zip_transpose, row_groups, avx2},
    {avx2, 'B', 2, zip_transpose, row_groups, avx2},
    {avx2, 'B', 4, lane_shuffle_transpose, row_groups, avx2},
    {avx2, 'B', 8, zip_transpose, row_groups, avx2},
    {avx2, 'C', 1, permuted_row, columns, avx2},
    {avx2, 'C', 2, permuted_row, columns, avx2},
    {avx2, 'C', 4, zipped_row_halves, columns, avx2},
    {avx2, 'C', 8, zipped_row_halves, columns, avx2},
    {avx512, 'A', 1, plain_row, columns, avx512},
    {avx512, 'A', 2, plain_row, columns, avx512},
    {avx512, 'A', 4, plain_row, columns, avx512},
    {avx512, 'A', 8, plain_row, columns, avx512},
    // Family B's transposes compiled for AVX2 measured faster than g++ 12's AVX-512 code for
    // them when this was chosen (64 x 64 float KivB8x16 unpack: 0.70 against 0.45 x memcpy), so
    // the AVX-512 path runs the AVX2 path's. On the AMD family 26 machine of the latest
    // measurement the two are within noise of each other (KivB8x16 pack 0.60 and 0.62 against
    // 0.60 and 0.58; unpack 0.56 and 0.62 against 0.56 and 0.54), so the choice stands.
    {avx512, 'B', 1, zip_transpose, row_groups, avx2},
    {avx512, 'B', 2, zip_transpose, row_groups, avx2},
    {avx512, 'B', 4, lane_shuffle_transpose, row_groups, avx2},
    {avx512, 'B', 8, zip_transpose, row_groups, avx2},
    {avx512, 'C', 1, permuted_row, columns, avx512},
    {avx512, 'C', 2, permuted_row, columns, avx512},
    {avx512, 'C', 4, permuted_row, columns, avx512},
    {avx512, 'C', 8, zipped_row_halves, columns, avx512},
#endif
};

}  // namespace table_rows
using table_rows::kernel_table;

using simd::compiled_paths;

inline constexpr std::array element_widths{std::size_t{1}, std::size_t{2}, std::size_t{4},
                                           std::size_t{8}};

constexpr KernelChoice choice_of(SimdPath path, char family, std::size_t word_bytes) {
  for (const KernelChoice& choice : kernel_table) {
    if (choice.path == path && choice.family == family && choice.word_bytes == word_bytes) {
      return choice;
    }
  }
  return {};
}

// Every path, family and width has exactly one row.
static_assert([] {
  for (const SimdPath path : compiled_paths) {
    for (const char family : {'A', 'B', 'C'}) {
      for (const std::size_t width : element_widths) {
        if (std::ranges::count_if(kernel_table, [&](const KernelChoice& choice) {
              return choice.path == path && choice.family == family && choice.word_bytes == width;
            }) != 1) {
          return false;
        }
      }
    }
  }
  return std::size(kernel_table) == compiled_paths.size() * 3 * element_widths.size();
}());

template <Kernel kernel, typename Word, BlockLayout layout, std::size_t vector_bytes>
constexpr auto panel_kernel() {
  constexpr PanelShape shape = panel_shape(layout);
  if constexpr (kernel == Kernel::scalar && shape.family == 'A') {
    return ScalarPlainRow<Word, shape.columns>{};
  } else if constexpr (kernel == Kernel::scalar && shape.family == 'B') {
    return ScalarTransposedPanel<Word, shape.rows>{};
  } else if constexpr (kernel == Kernel::scalar) {
    return ScalarInterleavedRow<Word>{};
  } else if constexpr (kernel == Kernel::plain_row) {
    return PlainRow<Word, shape.columns, vector_bytes>{};
  } else if constexpr (kernel == Kernel::permuted_row) {
    return PermutedRow<Word>{};
  } else if constexpr (kernel == Kernel::zipped_row_halves) {
    return ZippedRowHalves<Word, vector_bytes>{};
  } else if constexpr (kernel == Kernel::zip_transpose) {
    return ZipTranspose<Word, shape.rows, vector_bytes>{};
  } else {
    return LaneShuffleTranspose<Word, shape.rows>{};
  }
}

template <Kernel kernel, typename Word, BlockLayout layout, std::size_t vector_bytes>
using PanelKernel = decltype(panel_kernel<kernel, Word, layout, vector_bytes>());

}  // namespace zum_runtime::blocked_data::kernels
