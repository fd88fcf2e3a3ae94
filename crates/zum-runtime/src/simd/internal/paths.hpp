#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

// The instruction-set paths the kernels are compiled for, and the ones this processor runs.
// Internal: packing and the GEMM each keep a table of their kernels per path.
namespace zum_runtime::simd {

#if defined(__x86_64__)
#define ZUM_X86_64 1
#else
#define ZUM_X86_64 0
#endif

enum class SimdPath : std::uint8_t {
  generic,  // plain C++: each kernel's scalar definition; the only path off x86-64
  sse2,     // baseline x86-64
  avx2,
  avx512,  // AVX-512 F, BW, VL and DQ
};

#if ZUM_X86_64
inline constexpr std::array compiled_paths{SimdPath::generic, SimdPath::sse2, SimdPath::avx2,
                                           SimdPath::avx512};
#else
inline constexpr std::array compiled_paths{SimdPath::generic};
#endif

std::string_view simd_path_name(SimdPath path);

// The paths this processor can run: generic first, the fastest last.
std::span<const SimdPath> runnable_simd_paths();

// Whether the processor has fused multiply-adds, which every GEMM path past the portable one
// uses.
bool processor_has_fma();

}  // namespace zum_runtime::simd
