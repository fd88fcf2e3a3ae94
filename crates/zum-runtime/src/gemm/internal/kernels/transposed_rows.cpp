// Packing a transposed op(B), for one kernel set and element type (path_source.hpp).
#include "gemm/internal/kernels/path_source.hpp"

ZUM_GEMM_REGION_BEGIN
namespace zum_runtime::gemm::kernels::ZUM_GEMM_PATH {

#include "gemm/internal/kernels/micro_tile.inc"
#include "gemm/internal/kernels/transposed_rows.inc"

template <typename T>
void pack_transposed_rows(StridedMatrix<T> b, size_t depth, size_t columns, size_t nr, T* buffer) {
  TransposedRows<T, ZUM_GEMM_TILES(T).lanes>::pack(b, depth, columns, nr, buffer);
}

template void pack_transposed_rows(StridedMatrix<ZUM_GEMM_ELEMENT>, size_t, size_t, size_t,
                                   ZUM_GEMM_ELEMENT*);

}  // namespace zum_runtime::gemm::kernels::ZUM_GEMM_PATH
ZUM_GEMM_REGION_END
