#include "simd/internal/paths.hpp"

#include <algorithm>
#include <iterator>
#include <vector>

namespace zum_runtime::simd {
namespace {

using enum SimdPath;

bool processor_runs(SimdPath path) {
#if ZUM_X86_64
  __builtin_cpu_init();
  switch (path) {
    case generic:
    case sse2:
      return true;
    case avx2:
      return __builtin_cpu_supports("avx2");
    case avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq");
  }
  return false;
#else
  return path == generic;
#endif
}

}  // namespace

std::string_view simd_path_name(SimdPath path) {
  constexpr std::array<std::string_view, 4> names{"generic", "sse2", "avx2", "avx512"};
  return names.at(static_cast<std::size_t>(path));
}

std::span<const SimdPath> runnable_simd_paths() {
  static const std::vector<SimdPath> paths = [] {
    std::vector<SimdPath> runnable;
    std::ranges::copy_if(compiled_paths, std::back_inserter(runnable), processor_runs);
    return runnable;
  }();
  return paths;
}

bool processor_has_fma() {
#if ZUM_X86_64
  __builtin_cpu_init();
  return __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

}  // namespace zum_runtime::simd
