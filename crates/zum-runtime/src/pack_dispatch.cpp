#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#include "pack_kernel_table.hpp"
#include "pack_kernels.hpp"
#include "pack_walks.hpp"
#include "target_regions.hpp"

// The entry points of every path, as the kernel table chooses them, and the choice of path at
// run time.
#define ZUM_PACK_PATH generic_code
#define ZUM_PACK_VECTOR_BYTES 0
#include "pack_path_entries.inc"
#undef ZUM_PACK_PATH
#undef ZUM_PACK_VECTOR_BYTES

#if ZUM_X86_64
#define ZUM_PACK_PATH sse2_code
#define ZUM_PACK_VECTOR_BYTES 16
#include "pack_path_entries.inc"
#undef ZUM_PACK_PATH
#undef ZUM_PACK_VECTOR_BYTES

ZUM_TARGET_REGION_BEGIN("avx2")
#define ZUM_PACK_PATH avx2_code
#define ZUM_PACK_VECTOR_BYTES 32
#include "pack_path_entries.inc"
#undef ZUM_PACK_PATH
#undef ZUM_PACK_VECTOR_BYTES
ZUM_TARGET_REGION_END

ZUM_TARGET_REGION_BEGIN(ZUM_AVX512_TARGET)
#define ZUM_PACK_PATH avx512_code
#define ZUM_PACK_VECTOR_BYTES 64
#include "pack_path_entries.inc"
#undef ZUM_PACK_PATH
#undef ZUM_PACK_VECTOR_BYTES
ZUM_TARGET_REGION_END
#endif

namespace zum_runtime::blocked_data::kernels {
namespace {

using enum SimdPath;
using Entry = void (*)(PackJob, const std::byte*, std::byte*);

template <std::size_t bytes>
using WordOf = std::conditional_t<
    bytes == 1, std::uint8_t,
    std::conditional_t<bytes == 2, std::uint16_t,
                       std::conditional_t<bytes == 4, std::uint32_t, std::uint64_t>>>;

// The entry of a table row, for one layout value; the two family C variants share KivC16's.
template <SimdPath path, std::size_t bytes, BlockLayout layout, bool unpacking>
constexpr Entry entry() {
  constexpr KernelChoice choice = choice_of(path, panel_shape(layout).family, bytes);
  constexpr BlockLayout kernel_layout =
      panel_shape(layout).family == 'C' ? BlockLayout::KivC16 : layout;
  using Word = WordOf<bytes>;
  constexpr Kernel kernel = choice.kernel;
  constexpr Walk walk = choice.walk;
  if constexpr (choice.compiled_for == generic) {
    return &generic_code::move<Word, kernel_layout, kernel, walk, unpacking>;
#if ZUM_X86_64
  } else if constexpr (choice.compiled_for == sse2) {
    return &sse2_code::move<Word, kernel_layout, kernel, walk, unpacking>;
  } else if constexpr (choice.compiled_for == avx2) {
    return &avx2_code::move<Word, kernel_layout, kernel, walk, unpacking>;
  } else {
    return &avx512_code::move<Word, kernel_layout, kernel, walk, unpacking>;
#endif
  }
}

// One direction's entries of a path: by log2 of the element width, then by layout value.
using DirectionEntries = std::array<std::array<Entry, 8>, 4>;

template <SimdPath path, bool unpacking, std::size_t... width, std::size_t... layout>
constexpr DirectionEntries direction_entries(std::index_sequence<width...>,
                                             std::index_sequence<layout...>) {
  const auto of_width = [](auto width_log2) {
    return std::array<Entry, 8>{entry<path, std::size_t{1} << decltype(width_log2)::value,
                                      all_block_layouts[layout], unpacking>()...};
  };
  return {of_width(std::integral_constant<std::size_t, width>{})...};
}

struct PathEntries {
  DirectionEntries pack;
  DirectionEntries unpack;
};

template <SimdPath path>
constexpr PathEntries path_entries() {
  constexpr auto widths = std::make_index_sequence<4>{};
  constexpr auto layouts = std::make_index_sequence<8>{};
  return {direction_entries<path, false>(widths, layouts),
          direction_entries<path, true>(widths, layouts)};
}

template <std::size_t... path>
constexpr auto all_path_entries(std::index_sequence<path...>) {
  return std::array<PathEntries, sizeof...(path)>{path_entries<compiled_paths[path]>()...};
}

constexpr auto entries_by_path =
    all_path_entries(std::make_index_sequence<compiled_paths.size()>{});

std::size_t width_index(std::size_t element_bytes) {
  return static_cast<std::size_t>(std::countr_zero(element_bytes));
}

bool processor_runs(SimdPath path) {
#if ZUM_X86_64
  __builtin_cpu_init();
  switch (path) {
    case generic:
    case sse2:
      return true;
    case avx2:
      return __builtin_cpu_supports("avx2");
    case avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq");
  }
  return false;
#else
  return path == generic;
#endif
}

}  // namespace

std::string_view simd_path_name(SimdPath path) {
  constexpr std::array<std::string_view, 4> names{"generic", "sse2", "avx2", "avx512"};
  return names.at(static_cast<std::size_t>(path));
}

std::span<const SimdPath> runnable_simd_paths() {
  static const std::vector<SimdPath> paths = [] {
    std::vector<SimdPath> runnable;
    std::ranges::copy_if(compiled_paths, std::back_inserter(runnable), processor_runs);
    return runnable;
  }();
  return paths;
}

void pack(SimdPath path, const PackJob& job, const std::byte* matrix, std::byte* buffer) {
  const auto layout = static_cast<std::size_t>(job.layout);
  entries_by_path.at(static_cast<std::size_t>(path))
      .pack[width_index(job.element_bytes)][layout](job, matrix, buffer);
}

void unpack(SimdPath path, const PackJob& job, const std::byte* buffer, std::byte* matrix) {
  const auto layout = static_cast<std::size_t>(job.layout);
  entries_by_path.at(static_cast<std::size_t>(path))
      .unpack[width_index(job.element_bytes)][layout](job, buffer, matrix);
}

}  // namespace zum_runtime::blocked_data::kernels
