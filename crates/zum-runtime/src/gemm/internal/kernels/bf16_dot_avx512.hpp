#pragma once

// What the AVX-512 BF16 kernels' units share: included inside their instruction set's region,
// each unit its own copy. Internal to bf16_dot_avx512*.cpp.
#include <immintrin.h>

#include <cstring>

#include "gemm/internal/kernels/bf16_dot_tile.hpp"
#include "simd/internal/target_regions.hpp"

ZUM_TARGET_REGION_BEGIN(ZUM_AVX512_BF16_TARGET)
namespace zum_runtime::gemm::kernels::bf16_dot::avx512_bf16 {
namespace {

inline __m512bh as_pairs(__m512i words) {
  return (__m512bh)words;
}

// One pair word in every lane. Clang 16's vector combiner crashes turning the bfloat16 view of
// a lone broadcast into a broadcast of bfloat16; an empty asm hides the broadcast from it.
inline __m512bh broadcast_pair(word pair) {
  __m512i words = _mm512_set1_epi32(int(pair));
#if defined(__clang__)
  asm("" : "+v"(words));
#endif
  return as_pairs(words);
}

inline __mmask16 lanes_below(size_t count) {
  return count >= 16 ? __mmask16(0xffff) : static_cast<__mmask16>((1u << count) - 1u);
}

// c ← alpha · sum + beta · c over the lanes in `mask`, c read only when beta ≠ 0.
inline void store_row(float* c, __m512 sum, __mmask16 mask, const Output<float>& out) {
  const __m512 scaled =
      out.beta != 0.0f
          ? _mm512_fmadd_ps(_mm512_set1_ps(out.alpha), sum,
                            _mm512_mul_ps(_mm512_set1_ps(out.beta), _mm512_maskz_loadu_ps(mask, c)))
          : _mm512_mul_ps(_mm512_set1_ps(out.alpha), sum);
  _mm512_mask_storeu_ps(c, mask, scaled);
}

inline word pair_at(const bfloat16* pair) {
  word value;
  std::memcpy(&value, pair, sizeof value);
  return value;
}

inline __mmask32 columns_below(size_t count) {
  return count >= 32 ? ~__mmask32{0} : static_cast<__mmask32>((1u << count) - 1u);
}

}  // namespace

// Both operands where stored (bf16_dot_avx512_stored.cpp).
void stored(StridedMatrix<bfloat16> a, StridedMatrix<bfloat16> b, size_t depth, Output<float> out);

}  // namespace zum_runtime::gemm::kernels::bf16_dot::avx512_bf16
ZUM_TARGET_REGION_END
