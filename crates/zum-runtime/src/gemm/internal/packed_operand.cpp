#include <algorithm>

#include "gemm/internal/block_packing.hpp"
#include "gemm/internal/plan.hpp"

// The packed operand: op(B) packed whole, once, for PackedB, in the order the ways of running
// read it.
namespace zum_runtime::gemm::driver {

using kernels::round_up;

template <typename T>
size_t packed_panel_columns(size_t n, SimdPath path) {
  const PathKernels<T>& kernels = kernels::path_kernels<T>(path);
  return n <= kernels.narrow.nr ? kernels.narrow.nr : kernels.wide.nr;
}

template <typename T>
size_t packed_b_elements(size_t k, size_t n, SimdPath path) {
  const size_t nr = packed_panel_columns<T>(n, path);
  return round_up(k, 16) * round_up(n, nr);
}

// Slab by slab, each slab's blocks side by side: one family A buffer of panels per slab.
template <typename T>
void pack_b_whole(const Problem<T>& p, SimdPath path, T* buffer) {
  const PathKernels<T>& kernels = kernels::path_kernels<T>(path);
  const size_t nr = packed_panel_columns<T>(p.n, path);
  const kernels::Tile& tile = nr == kernels.wide.nr ? kernels.wide : kernels.narrow;
  const Blocking sizes = blocking<T>;
  const size_t padded_columns = round_up(p.n, nr);
  for (size_t depth_start = 0; depth_start < p.k; depth_start += sizes.kc) {
    const size_t depth = std::min(sizes.kc, p.k - depth_start);
    T* slab = buffer + depth_start * padded_columns;
    for (size_t column = 0; column < p.n; column += sizes.nc) {
      const size_t columns = std::min(sizes.nc, p.n - column);
      pack_b(p, kernels, depth_start, column, depth, columns, tile,
             slab + column * round_up(depth, 16));
    }
  }
}

#define ZUM_INSTANTIATE(T)                                        \
  template size_t packed_panel_columns<T>(size_t, SimdPath);      \
  template size_t packed_b_elements<T>(size_t, size_t, SimdPath); \
  template void pack_b_whole<T>(const Problem<T>&, SimdPath, T*);
ZUM_INSTANTIATE(float)
ZUM_INSTANTIATE(double)
#undef ZUM_INSTANTIATE

}  // namespace zum_runtime::gemm::driver
