// The few-columns tiles of one kernel set and element type (path_source.hpp).
#include "gemm/internal/kernels/path_source.hpp"

ZUM_GEMM_REGION_BEGIN
namespace zum_runtime::gemm::kernels::ZUM_GEMM_PATH {

#include "gemm/internal/kernels/micro_tile.inc"
// The tiles build on the micro-tile's loads and broadcasts.
#include "gemm/internal/kernels/columns.inc"

template <typename T>
void few_columns(StridedMatrix<T> a, const T* b_columns, size_t depth, size_t b_stride,
                 Output<T> out) {
  FewColumns<T, ZUM_GEMM_TILES(T).lanes>::run(a, b_columns, depth, b_stride, out);
}

template void few_columns(StridedMatrix<ZUM_GEMM_ELEMENT>, const ZUM_GEMM_ELEMENT*, size_t, size_t,
                          Output<ZUM_GEMM_ELEMENT>);

}  // namespace zum_runtime::gemm::kernels::ZUM_GEMM_PATH
ZUM_GEMM_REGION_END
