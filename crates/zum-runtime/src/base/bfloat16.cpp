#include "base/bfloat16.hpp"

#include <string>
#include <vector>

#include "base/internal/bfloat16_kernels.hpp"
#include "base/panic.hpp"

namespace zum_runtime {
namespace bf16 {

std::string_view bf16_path_name(Bf16Path path) {
  return path.bf16_instructions ? "avx512_bf16" : simd::simd_path_name(path.simd);
}

std::span<const Bf16Path> runnable_bf16_paths() {
  static const std::vector<Bf16Path> paths = [] {
    std::vector<Bf16Path> runnable;
    for (const SimdPath path : simd::runnable_simd_paths()) runnable.push_back({path, false});
    if (simd::processor_has_bf16_dot_products()) runnable.push_back({SimdPath::avx512, true});
    return runnable;
  }();
  return paths;
}

const Conversions& conversions_of([[maybe_unused]] Bf16Path path) {
#if ZUM_X86_64
  if (path.bf16_instructions) return avx512_bf16_code::conversions();
  switch (path.simd) {
    case SimdPath::generic:
      return generic_code::conversions();
    case SimdPath::sse2:
      return sse2_code::conversions();
    case SimdPath::avx2:
      return avx2_code::conversions();
    case SimdPath::avx512:
      return avx512_code::conversions();
  }
#endif
  return generic_code::conversions();
}

}  // namespace bf16

namespace {

template <typename From, typename To>
void require_same_size(const char* operation, std::span<From> from, std::span<To> to) {
  if (from.size() == to.size()) return;
  panic(std::string(operation) + ": from holds " + std::to_string(from.size()) +
        " elements and to holds " + std::to_string(to.size()) + "; they must be the same");
}

}  // namespace

void to_bfloat16(std::span<const float> from, std::span<bfloat16> to) {
  require_same_size("to_bfloat16", from, to);
  static const auto convert = bf16::conversions_of(bf16::fastest_bf16_path()).to_bfloat16;
  convert(from.data(), to.data(), from.size());
}

void to_float(std::span<const bfloat16> from, std::span<float> to) {
  require_same_size("to_float", from, to);
  static const auto convert = bf16::conversions_of(bf16::fastest_bf16_path()).to_float;
  convert(from.data(), to.data(), from.size());
}

}  // namespace zum_runtime
