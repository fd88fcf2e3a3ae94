// The sweep of one kernel set and element type (path_source.hpp).
#include "gemm/internal/kernels/path_source.hpp"

ZUM_GEMM_REGION_BEGIN
namespace zum_runtime::gemm::kernels::ZUM_GEMM_PATH {

#include "gemm/internal/kernels/micro_tile.inc"
#include "gemm/internal/kernels/sweep.inc"

template <typename T>
void sweep(StridedMatrix<T> a, StridedMatrix<T> b, size_t depth, Output<T> out) {
  Sweep<T, ZUM_GEMM_TILES(T).lanes>::run(a, b, depth, out);
}

template void sweep(StridedMatrix<ZUM_GEMM_ELEMENT>, StridedMatrix<ZUM_GEMM_ELEMENT>, size_t,
                    Output<ZUM_GEMM_ELEMENT>);

}  // namespace zum_runtime::gemm::kernels::ZUM_GEMM_PATH
ZUM_GEMM_REGION_END
