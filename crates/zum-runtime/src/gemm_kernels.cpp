#include "gemm_kernels.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>
#include <vector>

#include "pair_interleave.hpp"
#include "simd_vectors.hpp"
#include "target_regions.hpp"

// Lambdas the kernels call are inlined too.
#define ZUM_INLINE_LAMBDA __attribute__((always_inline))

// Each path's kernels, compiled for its instruction set. Everything the kernels include comes
// before, so no function outside them takes on a path's instructions.
#define ZUM_GEMM_PATH portable
#include "gemm_path_kernels.inc"
#undef ZUM_GEMM_PATH

#if ZUM_X86_64
ZUM_TARGET_REGION_BEGIN(ZUM_AVX2_FMA_TARGET)
#define ZUM_GEMM_PATH avx2
#include "gemm_path_kernels.inc"
#undef ZUM_GEMM_PATH
ZUM_TARGET_REGION_END

ZUM_TARGET_REGION_BEGIN(ZUM_AVX512_FMA_TARGET)
#define ZUM_GEMM_PATH avx512
#include "gemm_path_kernels.inc"
#undef ZUM_GEMM_PATH
ZUM_TARGET_REGION_END
#endif

namespace zum_runtime::gemm::kernels {
namespace {

using blocked_data::pair_interleave::column_of_stored;

constexpr Tile tile(size_t mr, size_t nr, size_t pass_rows) {
  const BlockLayout b_layout = nr == 8    ? BlockLayout::KivA8
                               : nr == 16 ? BlockLayout::KivA16
                                          : BlockLayout::KivA32;
  const BlockLayout a_layout = mr == 8 ? BlockLayout::KivB8x16 : BlockLayout::KivB16x16;
  return {a_layout, b_layout, mr, nr, pass_rows};
}

// Which tiles each path runs, indexed by the path. Wide: the packed kernel (mr × nr in passes).
// Narrow: op(A) read where stored against few columns of op(B); one vector of B a row and up
// to 16 rows a pass. The generic and SSE2 paths run the same portable kernels: 16-byte vectors,
// SSE2 on x86-64.
template <typename T>
constexpr PathKernels<T> portable_kernels{};
template <>
constexpr PathKernels<float> portable_kernels<float> =
    portable::Path<float, 4, tile(8, 8, 4), tile(8, 8, 4)>::kernels;
template <>
constexpr PathKernels<double> portable_kernels<double> =
    portable::Path<double, 2, tile(8, 8, 2), tile(8, 8, 2)>::kernels;

//                 path      element  lanes  wide             narrow
#if ZUM_X86_64
template <typename T>
constexpr std::array<PathKernels<T>, 4> kernels_by_path{};
template <>
constexpr std::array<PathKernels<float>, 4> kernels_by_path<float>{
    portable_kernels<float>,
    portable_kernels<float>,
    avx2::Path<float, 8, tile(8, 16, 4), tile(8, 8, 8)>::kernels,
    avx512::Path<float, 16, tile(8, 32, 8), tile(16, 16, 16)>::kernels,
};
template <>
constexpr std::array<PathKernels<double>, 4> kernels_by_path<double>{
    portable_kernels<double>,
    portable_kernels<double>,
    avx2::Path<double, 4, tile(8, 8, 4), tile(8, 8, 4)>::kernels,
    avx512::Path<double, 8, tile(8, 16, 8), tile(16, 8, 16)>::kernels,
};
#else
template <typename T>
constexpr std::array<PathKernels<T>, 1> kernels_by_path{portable_kernels<T>};
#endif

}  // namespace

// The packing kernels' paths, one for each set of kernels: on x86-64 the SSE2 path (the
// generic one would run the same portable kernels), then those with FMA, as every GEMM path
// past the portable one multiplies with fused multiply-adds.
std::span<const SimdPath> runnable_paths() {
  static const std::vector<SimdPath> paths = [] {
    std::vector<SimdPath> runnable;
    for (SimdPath path : blocked_data::kernels::runnable_simd_paths()) {
#if ZUM_X86_64
      if (path == SimdPath::sse2 || (path != SimdPath::generic && __builtin_cpu_supports("fma"))) {
        runnable.push_back(path);
      }
#else
      runnable.push_back(path);
#endif
    }
    return runnable;
  }();
  return paths;
}

template <typename T>
const PathKernels<T>& path_kernels(SimdPath path) {
  return kernels_by_path<T>.at(static_cast<size_t>(path));
}

template <typename T>
void pack_channels(StridedMatrix<T> a, size_t rows, size_t depth, T* buffer) {
  constexpr size_t mr = 8;
  const size_t row_groups = (rows + mr - 1) / mr;
  for (size_t group = 0; group < round_up(depth, 16) / 16; ++group) {
    for (size_t row_group = 0; row_group < row_groups; ++row_group) {
      for (size_t channel = 0; channel < 16; ++channel, buffer += mr) {
        const size_t column = group * 16 + column_of_stored[channel];
        const size_t first_row = row_group * mr;
        if (column < depth && first_row + mr <= rows) {
          for (size_t r = 0; r < mr; ++r) buffer[r] = a.at(first_row + r, column);
          continue;
        }
        for (size_t r = 0; r < mr; ++r) {
          buffer[r] = first_row + r < rows && column < depth ? a.at(first_row + r, column) : T{0};
        }
      }
    }
  }
}

template <typename T>
void pack_rows(StridedMatrix<T> b, size_t depth, size_t columns, size_t nr, T* buffer) {
  const size_t padded_depth = round_up(depth, 16);
  for (size_t panel = 0; panel < columns; panel += nr) {
    const size_t width = std::min(nr, columns - panel);
    for (size_t p = 0; p < padded_depth; ++p) {
      for (size_t j = 0; j < nr; ++j) {
        *buffer++ = p < depth && j < width ? b.at(p, panel + j) : T{0};
      }
    }
  }
}

template const PathKernels<float>& path_kernels<float>(SimdPath);
template const PathKernels<double>& path_kernels<double>(SimdPath);
template void pack_channels<float>(StridedMatrix<float>, size_t, size_t, float*);
template void pack_channels<double>(StridedMatrix<double>, size_t, size_t, double*);
template void pack_rows<float>(StridedMatrix<float>, size_t, size_t, size_t, float*);
template void pack_rows<double>(StridedMatrix<double>, size_t, size_t, size_t, double*);

}  // namespace zum_runtime::gemm::kernels
