#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "blocked_data.hpp"

// Which tiles each set of GEMM kernels runs, one line per set and element type. Read both by
// the kernels, which are shaped by it, and by the loops, which pack operands to fit it.
namespace zum_runtime::gemm::kernels {

using blocked_data::BlockLayout;
using std::size_t;

// The kernels are compiled three ways: portable (16-byte vectors, SSE2 on x86-64; the generic
// and SSE2 paths both run it), AVX2 and AVX-512, the last two with FMA.
enum class KernelSet : std::uint8_t { portable, avx2, avx512 };

// A micro-tile: op(A) packed into `a_layout` (mr rows a panel), op(B) into `b_layout` (nr
// columns a panel); the kernel covers mr rows in passes of `pass_rows`.
struct Tile {
  BlockLayout a_layout;
  BlockLayout b_layout;
  size_t mr;
  size_t nr;
  size_t pass_rows;
};

constexpr Tile tile(size_t mr, size_t nr, size_t pass_rows) {
  const BlockLayout b_layout = nr == 8    ? BlockLayout::KivA8
                               : nr == 16 ? BlockLayout::KivA16
                                          : BlockLayout::KivA32;
  const BlockLayout a_layout = mr == 8 ? BlockLayout::KivB8x16 : BlockLayout::KivB16x16;
  return {a_layout, b_layout, mr, nr, pass_rows};
}

// Wide: the packed kernel (mr × nr in passes), also for op(B) read where stored. Narrow: op(A)
// read where stored against few columns of op(B); one vector of B a row, up to 16 rows a pass.
struct KernelTiles {
  KernelSet kernels;
  size_t element_bytes;
  size_t lanes;  // of the vectors
  Tile wide;
  Tile narrow;
};

inline constexpr KernelTiles kernel_tiles[] = {
    // kernels           element lanes  wide             narrow
    {KernelSet::portable, 4, 4, tile(8, 8, 4), tile(8, 8, 4)},
    {KernelSet::portable, 8, 2, tile(8, 8, 2), tile(8, 8, 2)},
    {KernelSet::avx2, 4, 8, tile(8, 16, 4), tile(8, 8, 8)},
    {KernelSet::avx2, 8, 4, tile(8, 8, 4), tile(8, 8, 4)},
    {KernelSet::avx512, 4, 16, tile(8, 32, 8), tile(16, 16, 16)},
    {KernelSet::avx512, 8, 8, tile(8, 16, 8), tile(16, 8, 16)},
};

// Up to this many columns of op(B), the few-columns tiles can fill the vectors along k or down
// C's rows instead of across the columns.
inline constexpr size_t max_few_columns = 4;

template <typename T>
constexpr KernelTiles tiles_of(KernelSet kernels) {
  static_assert(std::is_same_v<T, float> || std::is_same_v<T, double>);
  for (const KernelTiles& tiles : kernel_tiles) {
    if (tiles.kernels == kernels && tiles.element_bytes == sizeof(T)) return tiles;
  }
  return {};
}

}  // namespace zum_runtime::gemm::kernels
