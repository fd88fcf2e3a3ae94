#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "blocked_data.hpp"

// The packing kernels behind pack and unpack, one set per instruction-set path. Internal: the
// public entry points validate their input and then hand a PackJob to the fastest path the
// processor runs; the tests run every path against the generic one.
namespace zum_runtime::blocked_data::kernels {

#if defined(__x86_64__)
#define ZUM_X86_64 1
#else
#define ZUM_X86_64 0
#endif

enum class SimdPath : std::uint8_t {
  generic,  // plain C++: each family's scalar definition; the only path off x86-64
  sse2,     // baseline x86-64
  avx2,
  avx512,  // AVX-512 F, BW, VL and DQ
};

std::string_view simd_path_name(SimdPath path);

// The paths this processor can run: generic first, the fastest last.
std::span<const SimdPath> runnable_simd_paths();

// A validated pack or unpack: the shape is addressable, the element is 1, 2, 4 or 8 bytes
// wide, both memory ranges are long enough and do not overlap. Padding is all-zero bytes.
struct PackJob {
  BlockLayout layout;
  std::uint16_t rows;
  std::uint16_t columns;
  std::uint32_t padded_rows;
  std::uint32_t padded_columns;
  std::size_t row_stride;  // in elements
  std::size_t element_bytes;
};

void pack(SimdPath path, const PackJob& job, const std::byte* matrix, std::byte* buffer);
void unpack(SimdPath path, const PackJob& job, const std::byte* buffer, std::byte* matrix);

}  // namespace zum_runtime::blocked_data::kernels
