// The packing entry points compiled for one instruction set: ZUM_PACK_PATH names it (generic,
// sse2, avx2 or avx512). Each walk and kernel a kernel table row names for it is compiled in
// the instruction set's region and shaped to its registers.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

#include "pack/internal/entries.hpp"
#include "pack/internal/kernel_table.hpp"
#include "pack/internal/walks.hpp"
#include "simd/internal/target_regions.hpp"

#if !defined(ZUM_PACK_PATH)
#error "packing entries are compiled with ZUM_PACK_PATH defined"
#endif

#define ZUM_PACK_REGION_BEGIN_generic
#define ZUM_PACK_REGION_END_generic
#define ZUM_PACK_REGION_BEGIN_sse2
#define ZUM_PACK_REGION_END_sse2
#define ZUM_PACK_REGION_BEGIN_avx2 ZUM_TARGET_REGION_BEGIN("avx2")
#define ZUM_PACK_REGION_END_avx2 ZUM_TARGET_REGION_END
#define ZUM_PACK_REGION_BEGIN_avx512 ZUM_TARGET_REGION_BEGIN(ZUM_AVX512_TARGET)
#define ZUM_PACK_REGION_END_avx512 ZUM_TARGET_REGION_END

// The namespace the instruction set's code lives in.
#define ZUM_PACK_CODE ZUM_CONCAT(ZUM_PACK_PATH, _code)

namespace zum_runtime::blocked_data::kernels {

// Each instruction set's register width; the generic path holds no vectors.
constexpr std::size_t vector_bytes_of(SimdPath path) {
  constexpr std::array<std::size_t, 4> bytes{0, 16, 32, 64};
  return bytes[static_cast<std::size_t>(path)];
}

}  // namespace zum_runtime::blocked_data::kernels

ZUM_CONCAT(ZUM_PACK_REGION_BEGIN_, ZUM_PACK_PATH)
#include "pack/internal/path_entries.inc"
ZUM_CONCAT(ZUM_PACK_REGION_END_, ZUM_PACK_PATH)

namespace zum_runtime::blocked_data::kernels {
namespace {

using enum SimdPath;
constexpr SimdPath this_path = SimdPath::ZUM_PACK_PATH;

template <std::size_t bytes>
using WordOf = std::conditional_t<
    bytes == 1, std::uint8_t,
    std::conditional_t<bytes == 2, std::uint16_t,
                       std::conditional_t<bytes == 4, std::uint32_t, std::uint64_t>>>;

// The entry of a table row, for one layout value, when the row is compiled here; the two
// family C variants share KivC16's.
template <SimdPath path, std::size_t bytes, BlockLayout layout, bool unpacking>
constexpr Entry entry() {
  constexpr KernelChoice choice = choice_of(path, panel_shape(layout).family, bytes);
  constexpr BlockLayout kernel_layout =
      panel_shape(layout).family == 'C' ? BlockLayout::KivC16 : layout;
  if constexpr (choice.compiled_for != this_path) {
    return nullptr;
  } else {
    return &ZUM_PACK_CODE::move<WordOf<bytes>, kernel_layout, choice.kernel, choice.walk,
                                unpacking>;
  }
}

template <SimdPath path, bool unpacking, std::size_t... width, std::size_t... layout>
constexpr DirectionEntries direction_entries(std::index_sequence<width...>,
                                             std::index_sequence<layout...>) {
  const auto of_width = [](auto width_log2) {
    return std::array<Entry, 8>{entry<path, std::size_t{1} << decltype(width_log2)::value,
                                      all_block_layouts[layout], unpacking>()...};
  };
  return {of_width(std::integral_constant<std::size_t, width>{})...};
}

template <SimdPath path>
constexpr PathEntries path_entries() {
  constexpr auto widths = std::make_index_sequence<4>{};
  constexpr auto layouts = std::make_index_sequence<8>{};
  return {direction_entries<path, false>(widths, layouts),
          direction_entries<path, true>(widths, layouts)};
}

template <std::size_t... path>
constexpr CompiledEntries all_path_entries(std::index_sequence<path...>) {
  return {path_entries<simd::compiled_paths[path]>()...};
}

}  // namespace

template <>
const CompiledEntries& entries_compiled_for<this_path>() {
  static constexpr CompiledEntries entries =
      all_path_entries(std::make_index_sequence<simd::compiled_paths.size()>{});
  return entries;
}

}  // namespace zum_runtime::blocked_data::kernels
