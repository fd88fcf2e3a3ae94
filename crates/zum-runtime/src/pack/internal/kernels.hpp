#pragma once

#include <cstddef>
#include <cstdint>

#include "blocked_data.hpp"
#include "simd/internal/paths.hpp"

// The packing kernels behind pack and unpack, one set per instruction-set path. Internal: the
// public entry points validate their input and then hand a PackJob to the fastest path the
// processor runs; the tests run every path against the generic one.
namespace zum_runtime::blocked_data::kernels {

// The packing kernels run on the processor's instruction-set paths.
using simd::runnable_simd_paths;
using simd::simd_path_name;
using simd::SimdPath;

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
