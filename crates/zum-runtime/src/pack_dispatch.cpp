#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#include "pack_kernels.hpp"
#include "pack_row_kernels.hpp"
#include "pack_transpose_kernels.hpp"
#include "pack_walks.hpp"
#include "target_regions.hpp"

// Which kernel and which walk each path runs, for each family and element width, and the
// entry points that run them.
namespace zum_runtime::blocked_data::kernels {
namespace {

enum class Kernel : std::uint8_t {
  scalar,                  // the family's scalar definition
  plain_row,               // family A: a panel row as one vector
  permuted_row,            // family C: a row of 16 in one register, one permute
  zipped_row_halves,       // family C: a row's halves a register at a time, pairs zipped
  zip_transpose,           // family B: k × k blocks by zip rounds
  lane_shuffle_transpose,  // family B, 4-byte words: x86's in-lane shuffles
};

enum class Walk : std::uint8_t {
  column_panels,     // families A and C
  row_group_panels,  // family B
};

struct KernelChoice {
  SimdPath path;
  char family;
  std::size_t word_bytes;
  Kernel kernel;
  Walk walk;
  SimdPath compiled_for;  // the instruction set the kernel and walk are compiled for
};

using enum SimdPath;
using enum Kernel;
using enum Walk;
constexpr Walk columns = column_panels;
constexpr Walk row_groups = row_group_panels;

// Family C permutes a row where its 16 words fit a register, and zips its halves otherwise.
// Family B packs 4-byte words as quads where a register holds 8 of them.
constexpr KernelChoice kernel_table[] = {
    // path  family bytes kernel walk compiled for
    {generic, 'A', 1, scalar, columns, generic},
    {generic, 'A', 2, scalar, columns, generic},
    {generic, 'A', 4, scalar, columns, generic},
    {generic, 'A', 8, scalar, columns, generic},
    {generic, 'B', 1, scalar, row_groups, generic},
    {generic, 'B', 2, scalar, row_groups, generic},
    {generic, 'B', 4, scalar, row_groups, generic},
    {generic, 'B', 8, scalar, row_groups, generic},
    {generic, 'C', 1, scalar, columns, generic},
    {generic, 'C', 2, scalar, columns, generic},
    {generic, 'C', 4, scalar, columns, generic},
    {generic, 'C', 8, scalar, columns, generic},
#if ZUM_X86_64
    {sse2, 'A', 1, plain_row, columns, sse2},
    {sse2, 'A', 2, plain_row, columns, sse2},
    {sse2, 'A', 4, plain_row, columns, sse2},
    {sse2, 'A', 8, plain_row, columns, sse2},
    {sse2, 'B', 1, zip_transpose, row_groups, sse2},
    {sse2, 'B', 2, zip_transpose, row_groups, sse2},
    {sse2, 'B', 4, zip_transpose, row_groups, sse2},
    {sse2, 'B', 8, zip_transpose, row_groups, sse2},
    {sse2, 'C', 1, permuted_row, columns, sse2},
    {sse2, 'C', 2, zipped_row_halves, columns, sse2},
    {sse2, 'C', 4, zipped_row_halves, columns, sse2},
    {sse2, 'C', 8, zipped_row_halves, columns, sse2},
    {avx2, 'A', 1, plain_row, columns, avx2},
    {avx2, 'A', 2, plain_row, columns, avx2},
    {avx2, 'A', 4, plain_row, columns, avx2},
    {avx2, 'A', 8, plain_row, columns, avx2},
    {avx2, 'B', 1, zip_transpose, row_groups, avx2},
    {avx2, 'B', 2, zip_transpose, row_groups, avx2},
    {avx2, 'B', 4, lane_shuffle_transpose, row_groups, avx2},
    {avx2, 'B', 8, zip_transpose, row_groups, avx2},
    {avx2, 'C', 1, permuted_row, columns, avx2},
    {avx2, 'C', 2, permuted_row, columns, avx2},
    {avx2, 'C', 4, zipped_row_halves, columns, avx2},
    {avx2, 'C', 8, zipped_row_halves, columns, avx2},
    {avx512, 'A', 1, plain_row, columns, avx512},
    {avx512, 'A', 2, plain_row, columns, avx512},
    {avx512, 'A', 4, plain_row, columns, avx512},
    {avx512, 'A', 8, plain_row, columns, avx512},
    // Family B's transposes compiled for AVX2 measured faster than g++ 12's AVX-512 code for
    // them, at every width benchmarked (64 × 64 float KivB8x16 unpack: 0.70 against 0.45 ×
    // memcpy), so the AVX-512 path runs the AVX2 path's.
    {avx512, 'B', 1, zip_transpose, row_groups, avx2},
    {avx512, 'B', 2, zip_transpose, row_groups, avx2},
    {avx512, 'B', 4, lane_shuffle_transpose, row_groups, avx2},
    {avx512, 'B', 8, zip_transpose, row_groups, avx2},
    {avx512, 'C', 1, permuted_row, columns, avx512},
    {avx512, 'C', 2, permuted_row, columns, avx512},
    {avx512, 'C', 4, permuted_row, columns, avx512},
    {avx512, 'C', 8, zipped_row_halves, columns, avx512},
#endif
};

constexpr std::array compiled_paths{
    generic,
#if ZUM_X86_64
    sse2,    avx2, avx512,
#endif
};

constexpr std::array element_widths{std::size_t{1}, std::size_t{2}, std::size_t{4}, std::size_t{8}};

constexpr KernelChoice choice_of(SimdPath path, char family, std::size_t word_bytes) {
  for (const KernelChoice& choice : kernel_table) {
    if (choice.path == path && choice.family == family && choice.word_bytes == word_bytes) {
      return choice;
    }
  }
  return {};
}

// Every path, family and width has exactly one row.
static_assert([] {
  for (const SimdPath path : compiled_paths) {
    for (const char family : {'A', 'B', 'C'}) {
      for (const std::size_t width : element_widths) {
        if (std::ranges::count_if(kernel_table, [&](const KernelChoice& choice) {
              return choice.path == path && choice.family == family && choice.word_bytes == width;
            }) != 1) {
          return false;
        }
      }
    }
  }
  return std::size(kernel_table) == compiled_paths.size() * 3 * element_widths.size();
}());

template <Kernel kernel, typename Word, BlockLayout layout, std::size_t vector_bytes>
constexpr auto panel_kernel() {
  constexpr PanelShape shape = panel_shape(layout);
  if constexpr (kernel == scalar && shape.family == 'A') {
    return ScalarPlainRow<Word, shape.columns>{};
  } else if constexpr (kernel == scalar && shape.family == 'B') {
    return ScalarTransposedPanel<Word, shape.rows>{};
  } else if constexpr (kernel == scalar) {
    return ScalarInterleavedRow<Word>{};
  } else if constexpr (kernel == plain_row) {
    return PlainRow<Word, shape.columns, vector_bytes>{};
  } else if constexpr (kernel == permuted_row) {
    return PermutedRow<Word>{};
  } else if constexpr (kernel == zipped_row_halves) {
    return ZippedRowHalves<Word, vector_bytes>{};
  } else if constexpr (kernel == zip_transpose) {
    return ZipTranspose<Word, shape.rows, vector_bytes>{};
  } else {
    return LaneShuffleTranspose<Word, shape.rows>{};
  }
}

template <Kernel kernel, typename Word, BlockLayout layout, std::size_t vector_bytes>
using PanelKernel = decltype(panel_kernel<kernel, Word, layout, vector_bytes>());

}  // namespace
}  // namespace zum_runtime::blocked_data::kernels

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
    return std::array<Entry, 8>{
        entry<path, std::size_t{1} << decltype(width_log2)::value, all_block_layouts[layout],
              unpacking>()...};
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

constexpr auto entries_by_path = all_path_entries(std::make_index_sequence<compiled_paths.size()>{});

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
