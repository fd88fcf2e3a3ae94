#pragma once

#include <array>
#include <cstdint>
#include <optional>
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

// The paths this processor can run, up to the limit below: generic first, the fastest last.
std::span<const SimdPath> runnable_simd_paths();

// Whether the processor runs each 512-bit vector operation as two 256-bit halves (AMD Zen 4:
// family 25 with AVX-512), so that a 512-bit load or multiply-add costs what two 256-bit ones do
// and the ways of running a GEMM switch at other shapes.
bool processor_halves_512_bit_vectors();
// Whether the processor has fused multiply-adds, which every GEMM path past the portable one
// uses.
bool processor_has_fma();

// The instruction sets the library may use, capped by the environment variable ZUM_MAX_ISA
// (read once): generic, sse2, avx2, avx512 (F, BW, DQ and VL only), avx512_vnni (those and the
// 8-bit integer dot products), avx512_bf16 (those and the bfloat16 dot products) or native, the
// default. An unknown value is named in one line on stderr and otherwise ignored.
enum class IsaLimit : std::uint8_t {
  generic,
  sse2,
  avx2,
  avx512,
  avx512_vnni,
  avx512_bf16,
  native
};

// The limit a value of ZUM_MAX_ISA names; native for none, and nullopt when unknown.
std::optional<IsaLimit> parse_isa_limit(const char* value);
IsaLimit isa_limit();

// Whether the processor has AVX-512's bfloat16 dot products and conversions, and the limit
// lets the library use them.
bool processor_has_bf16_dot_products();
// The same for AVX-512 VNNI's 8-bit integer dot products.
bool processor_has_int8_dot_products();

}  // namespace zum_runtime::simd
