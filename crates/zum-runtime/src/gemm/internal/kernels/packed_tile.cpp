// The packed tile of one kernel set and element type (path_source.hpp).
#include "gemm/internal/kernels/path_source.hpp"

ZUM_GEMM_REGION_BEGIN
namespace zum_runtime::gemm::kernels::ZUM_GEMM_PATH {

#include "gemm/internal/kernels/micro_tile.inc"
#include "gemm/internal/kernels/packed_tile.inc"

template <typename T>
void packed(const T* a_block, const T* b_block, size_t depth, size_t padded_depth, Output<T> out) {
  constexpr KernelTiles tiles = ZUM_GEMM_TILES(T);
  PackedTile<T, tiles.lanes, tiles.wide>::run(a_block, b_block, depth, padded_depth, out);
}

template void packed(const ZUM_GEMM_ELEMENT*, const ZUM_GEMM_ELEMENT*, size_t, size_t,
                     Output<ZUM_GEMM_ELEMENT>);

}  // namespace zum_runtime::gemm::kernels::ZUM_GEMM_PATH
ZUM_GEMM_REGION_END
