// The bfloat16 conversions compiled for one path: ZUM_BF16_PATH names it (generic, sse2,
// avx2, avx512 or avx512_bf16). The loops are the scalar definitions, written without
// branches, which the compiler turns into the instruction set's vectors; avx512_bf16 converts
// to bfloat16 with the processor's own instruction, which rounds the same way.
#include <bit>
#include <cstdint>

#include "base/internal/bfloat16_kernels.hpp"
#include "simd/internal/target_regions.hpp"

#if !defined(ZUM_BF16_PATH)
#error "the bfloat16 conversions are compiled with ZUM_BF16_PATH defined"
#endif

#define ZUM_BF16_REGION_BEGIN_generic
#define ZUM_BF16_REGION_END_generic
#define ZUM_BF16_REGION_BEGIN_sse2
#define ZUM_BF16_REGION_END_sse2
#define ZUM_BF16_REGION_BEGIN_avx2 ZUM_TARGET_REGION_BEGIN("avx2")
#define ZUM_BF16_REGION_END_avx2 ZUM_TARGET_REGION_END
#define ZUM_BF16_REGION_BEGIN_avx512 ZUM_TARGET_REGION_BEGIN(ZUM_AVX512_TARGET)
#define ZUM_BF16_REGION_END_avx512 ZUM_TARGET_REGION_END
#define ZUM_BF16_REGION_BEGIN_avx512_bf16 ZUM_TARGET_REGION_BEGIN(ZUM_AVX512_BF16_TARGET)
#define ZUM_BF16_REGION_END_avx512_bf16 ZUM_TARGET_REGION_END

#define ZUM_BF16_avx512_bf16 1
#define ZUM_BF16_IS(path) (ZUM_CONCAT(ZUM_BF16_, ZUM_BF16_PATH) == ZUM_CONCAT(ZUM_BF16_, path))

#if ZUM_BF16_IS(avx512_bf16)
#include <immintrin.h>
#endif

ZUM_CONCAT(ZUM_BF16_REGION_BEGIN_, ZUM_BF16_PATH)
namespace zum_runtime::bf16::ZUM_CONCAT(ZUM_BF16_PATH, _code) {
  namespace {

#if ZUM_BF16_IS(avx512_bf16)
  void to_bfloat16(const float* from, bfloat16* to, std::size_t count) {
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
      const __m256bh converted = _mm512_cvtneps_pbh(_mm512_loadu_ps(from + i));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i),
                          reinterpret_cast<const __m256i&>(converted));
    }
    if (i == count) return;
    const auto rest = static_cast<__mmask16>((1u << (count - i)) - 1u);
    const __m256bh converted = _mm512_cvtneps_pbh(_mm512_maskz_loadu_ps(rest, from + i));
    _mm256_mask_storeu_epi16(to + i, rest, reinterpret_cast<const __m256i&>(converted));
  }
#else
  void to_bfloat16(const float* from, bfloat16* to, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) to[i] = zum_runtime::to_bfloat16(from[i]);
  }
#endif

  void to_float(const bfloat16* from, float* to, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) to[i] = zum_runtime::to_float(from[i]);
  }

  }  // namespace

  const Conversions& conversions() {
    static constexpr Conversions table{to_bfloat16, to_float};
    return table;
  }

}  // namespace zum_runtime::bf16::ZUM_CONCAT(ZUM_BF16_PATH,_code)
ZUM_CONCAT(ZUM_BF16_REGION_END_, ZUM_BF16_PATH)
