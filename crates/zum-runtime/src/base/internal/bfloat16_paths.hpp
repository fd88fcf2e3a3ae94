#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "base/bfloat16.hpp"
#include "simd/internal/paths.hpp"

// The paths bfloat16 work runs on: a SIMD path, and on AVX-512 whether the processor's
// bfloat16 instructions are used (the conversions, and the dot products the GEMM multiplies
// with). Internal.
namespace zum_runtime::bf16 {

using simd::SimdPath;

struct Bf16Path {
  SimdPath simd;
  bool bf16_instructions;  // AVX-512 BF16; only with SimdPath::avx512

  friend bool operator==(const Bf16Path&, const Bf16Path&) = default;
};

// generic, sse2, avx2, avx512 and avx512_bf16.
std::string_view bf16_path_name(Bf16Path path);
// Every SIMD path the processor runs without the bfloat16 instructions, then avx512_bf16
// where it has them: the fastest last.
std::span<const Bf16Path> runnable_bf16_paths();
inline Bf16Path fastest_bf16_path() {
  return runnable_bf16_paths().back();
}

// The conversion kernels, one pair per path.
struct Conversions {
  void (*to_bfloat16)(const float* from, bfloat16* to, std::size_t count);
  void (*to_float)(const bfloat16* from, float* to, std::size_t count);
};
const Conversions& conversions_of(Bf16Path path);

}  // namespace zum_runtime::bf16
