#pragma once

#include <array>
#include <cstddef>

#include "pack/internal/kernels.hpp"

// The packing entry points of every path, gathered from the translation units that compile
// them, one per instruction set (path_entries.cpp). Internal to the dispatch.
namespace zum_runtime::blocked_data::kernels {

using Entry = void (*)(PackJob, const std::byte*, std::byte*);

// One direction's entries of a path: by log2 of the element width, then by layout value.
using DirectionEntries = std::array<std::array<Entry, 8>, 4>;

struct PathEntries {
  DirectionEntries pack;
  DirectionEntries unpack;
};

// The entries one instruction set's unit compiles, for every path whose kernel table rows name
// that instruction set; null where a row names another. Indexed by path.
using CompiledEntries = std::array<PathEntries, simd::compiled_paths.size()>;

template <SimdPath compiled_for>
const CompiledEntries& entries_compiled_for();
template <>
const CompiledEntries& entries_compiled_for<SimdPath::generic>();
#if ZUM_X86_64
template <>
const CompiledEntries& entries_compiled_for<SimdPath::sse2>();
template <>
const CompiledEntries& entries_compiled_for<SimdPath::avx2>();
template <>
const CompiledEntries& entries_compiled_for<SimdPath::avx512>();
#endif

}  // namespace zum_runtime::blocked_data::kernels
