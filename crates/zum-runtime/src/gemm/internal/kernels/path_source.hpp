#pragma once

// What a translation unit of GEMM kernels includes first, outside its kernel set's region, so
// that no function of the standard library or of the loops takes on the set's instructions.
// Each such unit is compiled once per kernel set and element type, with ZUM_GEMM_PATH naming
// the set (portable, avx2 or avx512) and ZUM_GEMM_ELEMENT the type (float or double).
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "gemm/internal/operands.hpp"
#include "gemm/internal/tiles.hpp"
#include "internal/pair_interleave.hpp"
#include "simd/internal/target_regions.hpp"
#include "simd/internal/vectors.hpp"

#if !defined(ZUM_GEMM_PATH) || !defined(ZUM_GEMM_ELEMENT)
#error "GEMM kernels are compiled with ZUM_GEMM_PATH and ZUM_GEMM_ELEMENT defined"
#endif

// Lambdas the kernels call are inlined too.
#define ZUM_INLINE_LAMBDA __attribute__((always_inline))

// Each set's region: every function inside compiles for its instruction set, so generic
// vectors map onto its registers from the start, templates and lambdas included. The
// portable set compiles for the baseline.
#define ZUM_GEMM_REGION_BEGIN_portable
#define ZUM_GEMM_REGION_END_portable
#define ZUM_GEMM_REGION_BEGIN_avx2 ZUM_TARGET_REGION_BEGIN(ZUM_AVX2_FMA_TARGET)
#define ZUM_GEMM_REGION_END_avx2 ZUM_TARGET_REGION_END
#define ZUM_GEMM_REGION_BEGIN_avx512 ZUM_TARGET_REGION_BEGIN(ZUM_AVX512_FMA_TARGET)
#define ZUM_GEMM_REGION_END_avx512 ZUM_TARGET_REGION_END
#define ZUM_GEMM_REGION_BEGIN ZUM_CONCAT(ZUM_GEMM_REGION_BEGIN_, ZUM_GEMM_PATH)
#define ZUM_GEMM_REGION_END ZUM_CONCAT(ZUM_GEMM_REGION_END_, ZUM_GEMM_PATH)

// The tiles of the set being compiled, for element type T.
#define ZUM_GEMM_TILES(T) tiles_of<T>(KernelSet::ZUM_GEMM_PATH)
