#include <algorithm>

#include "gemm/internal/block_packing.hpp"
#include "gemm/internal/ways.hpp"

// The blocked way, the loops around the packed tile: per slab of k (pc), the rows of op(A)
// packed block by block (ic), then each block of op(B) (jc) against all of them; the kernel
// walks the blocks' panels (jr, ir).
namespace zum_runtime::gemm::driver {

using kernels::round_up;

// Both operands packed: per slab of k, every block of op(A) once, then each block of op(B)
// against all of them.
template <typename T>
void run_blocked(const Problem<T>& p, const PathKernels<T>& kernels) {
  const Blocking sizes = block_sizes<T>();
  const size_t a_blocks = (p.m + sizes.mc - 1) / sizes.mc;
  T* a_slab = workspace<T>(0, a_blocks * sizes.mc * sizes.kc);
  T* b_buffer = workspace<T>(1, sizes.kc * sizes.nc);
  for_each_slab(p, sizes.kc, [&](size_t depth_start, size_t depth, const Output<T>& out) {
    const size_t padded_depth = round_up(depth, 16);
    for (size_t row = 0; row < p.m; row += sizes.mc) {
      const size_t rows = std::min(sizes.mc, p.m - row);
      pack_a(p, row, depth_start, rows, depth, a_slab + row * padded_depth);
    }
    for (size_t column = 0; column < p.n; column += sizes.nc) {
      const size_t columns = std::min(sizes.nc, p.n - column);
      const T* b = b_block(p, kernels, depth_start, column, depth, columns, kernels.wide, b_buffer);
      for (size_t row = 0; row < p.m; row += sizes.mc) {
        const size_t rows = std::min(sizes.mc, p.m - row);
        kernels.packed(a_slab + row * padded_depth, b, depth, padded_depth,
                       out.offset(row, column).shape(rows, columns));
      }
    }
  });
}

template void run_blocked<float>(const Problem<float>&, const PathKernels<float>&);
template void run_blocked<double>(const Problem<double>&, const PathKernels<double>&);

}  // namespace zum_runtime::gemm::driver
