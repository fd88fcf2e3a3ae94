#include <bit>
#include <cstddef>

#include "pack/internal/entries.hpp"

// The choice of entry at run time: each path's entries, gathered once from the units that
// compile them, by element width and layout.
namespace zum_runtime::blocked_data::kernels {
namespace {

using PathTable = std::array<PathEntries, simd::compiled_paths.size()>;

// Each entry from the one instruction set's table that holds it.
void gather(const CompiledEntries& compiled, PathTable& table) {
  for (std::size_t path = 0; path < table.size(); ++path) {
    for (std::size_t width = 0; width < 4; ++width) {
      for (std::size_t layout = 0; layout < 8; ++layout) {
        if (Entry e = compiled[path].pack[width][layout]) table[path].pack[width][layout] = e;
        if (Entry e = compiled[path].unpack[width][layout]) table[path].unpack[width][layout] = e;
      }
    }
  }
}

const PathTable& entries_by_path() {
  static const PathTable table = [] {
    PathTable gathered{};
    gather(entries_compiled_for<SimdPath::generic>(), gathered);
#if ZUM_X86_64
    gather(entries_compiled_for<SimdPath::sse2>(), gathered);
    gather(entries_compiled_for<SimdPath::avx2>(), gathered);
    gather(entries_compiled_for<SimdPath::avx512>(), gathered);
#endif
    return gathered;
  }();
  return table;
}

std::size_t width_index(std::size_t element_bytes) {
  return static_cast<std::size_t>(std::countr_zero(element_bytes));
}

}  // namespace

void pack(SimdPath path, const PackJob& job, const std::byte* matrix, std::byte* buffer) {
  const auto layout = static_cast<std::size_t>(job.layout);
  entries_by_path()
      .at(static_cast<std::size_t>(path))
      .pack[width_index(job.element_bytes)][layout](job, matrix, buffer);
}

void unpack(SimdPath path, const PackJob& job, const std::byte* buffer, std::byte* matrix) {
  const auto layout = static_cast<std::size_t>(job.layout);
  entries_by_path()
      .at(static_cast<std::size_t>(path))
      .unpack[width_index(job.element_bytes)][layout](job, buffer, matrix);
}

}  // namespace zum_runtime::blocked_data::kernels
