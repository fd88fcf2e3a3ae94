// Packing op(B) into panels, for one kernel set and element type (path_source.hpp).
#include "gemm/internal/kernels/path_source.hpp"

ZUM_GEMM_REGION_BEGIN
namespace zum_runtime::gemm::kernels::ZUM_GEMM_PATH {

#include "gemm/internal/kernels/micro_tile.inc"
#include "gemm/internal/kernels/transposed_rows.inc"

template <typename T>
void pack_panels(StridedMatrix<T> b, size_t depth, size_t columns, size_t nr, T* buffer) {
  constexpr size_t lanes = ZUM_GEMM_TILES(T).lanes;
  if (b.column_step == 1) return StoredRowPanels<T, lanes>::pack(b, depth, columns, nr, buffer);
  TransposedRows<T, lanes>::pack(b, depth, columns, nr, buffer);
}

template void pack_panels(StridedMatrix<ZUM_GEMM_ELEMENT>, size_t, size_t, size_t,
                          ZUM_GEMM_ELEMENT*);

}  // namespace zum_runtime::gemm::kernels::ZUM_GEMM_PATH
ZUM_GEMM_REGION_END
