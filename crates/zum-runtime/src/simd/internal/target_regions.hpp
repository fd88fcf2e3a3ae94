#pragma once

// A region of source compiled for an instruction set: every function declared inside it,
// templates and lambdas included, takes the target, so generic vectors map onto that
// instruction set's registers from the start. Internal to the library's kernel sources.
#define ZUM_PRAGMA(...) _Pragma(#__VA_ARGS__)

#if defined(__clang__)
#define ZUM_TARGET_REGION_BEGIN(isa) \
  ZUM_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
#define ZUM_TARGET_REGION_END ZUM_PRAGMA(clang attribute pop)
#else
#define ZUM_TARGET_REGION_BEGIN(isa) ZUM_PRAGMA(GCC push_options) ZUM_PRAGMA(GCC target(isa))
#define ZUM_TARGET_REGION_END ZUM_PRAGMA(GCC pop_options)
#endif

// The x86-64 paths' instruction sets.
#define ZUM_AVX2_FMA_TARGET "avx2,fma"
#define ZUM_AVX512_TARGET "avx512f,avx512bw,avx512vl,avx512dq"
#define ZUM_AVX512_FMA_TARGET "avx512f,avx512bw,avx512vl,avx512dq,fma"
#define ZUM_AVX512_BF16_TARGET "avx512f,avx512bw,avx512vl,avx512dq,fma,avx512bf16"
#define ZUM_AVX512_VNNI_TARGET "avx512f,avx512bw,avx512vl,avx512dq,avx512vnni"

// Pastes two tokens after expanding them: a path named by a macro picks its region.
#define ZUM_CONCAT(a, b) ZUM_CONCAT_EXPANDED(a, b)
#define ZUM_CONCAT_EXPANDED(a, b) a##b
