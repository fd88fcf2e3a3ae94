#include "gemm/internal/kernel_table.hpp"

#include <array>
#include <vector>

namespace zum_runtime::gemm::kernels {
namespace {

// Each path's kernels, indexed by the path: the generic and SSE2 paths run the portable set.
#if ZUM_X86_64
template <typename T>
constexpr std::array<PathKernels<T>, 4> kernels_by_path{
    portable::kernels_of<T>(tiles_of<T>(KernelSet::portable)),
    portable::kernels_of<T>(tiles_of<T>(KernelSet::portable)),
    avx2::kernels_of<T>(tiles_of<T>(KernelSet::avx2)),
    avx512::kernels_of<T>(tiles_of<T>(KernelSet::avx512)),
};
#else
template <typename T>
constexpr std::array<PathKernels<T>, 1> kernels_by_path{
    portable::kernels_of<T>(tiles_of<T>(KernelSet::portable))};
#endif

}  // namespace

// The packing kernels' paths, one for each set of kernels: on x86-64 the SSE2 path (the
// generic one would run the same portable kernels, and runs them only where ZUM_MAX_ISA
// allows nothing more), then those with FMA, as every GEMM path past the portable one
// multiplies with fused multiply-adds.
std::span<const SimdPath> runnable_paths() {
  static const std::vector<SimdPath> paths = [] {
    const auto simd_paths = simd::runnable_simd_paths();
    std::vector<SimdPath> runnable;
    for (SimdPath path : simd_paths) {
#if ZUM_X86_64
      const bool portable = path == SimdPath::sse2 || simd_paths.size() == 1;
      if (portable || (path != SimdPath::generic && simd::processor_has_fma())) {
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

template const PathKernels<float>& path_kernels<float>(SimdPath);
template const PathKernels<double>& path_kernels<double>(SimdPath);

}  // namespace zum_runtime::gemm::kernels
