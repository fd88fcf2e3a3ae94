// The narrow tile: op(A) read where stored against the narrow panels of a packed op(B) or of
// op(B) where stored, for one kernel set and element type (path_source.hpp).
#include "gemm/internal/kernels/path_source.hpp"

ZUM_GEMM_REGION_BEGIN
namespace zum_runtime::gemm::kernels::ZUM_GEMM_PATH {

#include "gemm/internal/kernels/micro_tile.inc"
#include "gemm/internal/kernels/stored_tile.inc"

template <typename T>
void stored_a_narrow(StridedMatrix<T> a, const T* b_block, size_t depth, size_t b_depth,
                     Output<T> out) {
  constexpr KernelTiles tiles = ZUM_GEMM_TILES(T);
  StoredTile<T, tiles.lanes, tiles.narrow>::stored_a(a, b_block, depth, b_depth, out);
}

template <typename T>
void stored_narrow(StridedMatrix<T> a, StridedMatrix<T> b, size_t depth, Output<T> out) {
  constexpr KernelTiles tiles = ZUM_GEMM_TILES(T);
  StoredTile<T, tiles.lanes, tiles.narrow>::stored(a, b, depth, out);
}

template void stored_a_narrow(StridedMatrix<ZUM_GEMM_ELEMENT>, const ZUM_GEMM_ELEMENT*, size_t,
                              size_t, Output<ZUM_GEMM_ELEMENT>);
template void stored_narrow(StridedMatrix<ZUM_GEMM_ELEMENT>, StridedMatrix<ZUM_GEMM_ELEMENT>,
                            size_t, Output<ZUM_GEMM_ELEMENT>);

}  // namespace zum_runtime::gemm::kernels::ZUM_GEMM_PATH
ZUM_GEMM_REGION_END
