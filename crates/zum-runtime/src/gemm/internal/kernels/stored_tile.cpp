// Both operands read where stored, op(B) untransposed, for one kernel set and element type
// (path_source.hpp).
#include "gemm/internal/kernels/path_source.hpp"

ZUM_GEMM_REGION_BEGIN
namespace zum_runtime::gemm::kernels::ZUM_GEMM_PATH {

#include "gemm/internal/kernels/micro_tile.inc"
#include "gemm/internal/kernels/stored_tile.inc"

template <typename T>
void stored(StridedMatrix<T> a, StridedMatrix<T> b, size_t depth, Output<T> out) {
  constexpr KernelTiles tiles = ZUM_GEMM_TILES(T);
  StoredTile<T, tiles.lanes, tiles.wide>::stored(a, b, depth, out);
}

template void stored(StridedMatrix<ZUM_GEMM_ELEMENT>, StridedMatrix<ZUM_GEMM_ELEMENT>, size_t,
                     Output<ZUM_GEMM_ELEMENT>);

}  // namespace zum_runtime::gemm::kernels::ZUM_GEMM_PATH
ZUM_GEMM_REGION_END
