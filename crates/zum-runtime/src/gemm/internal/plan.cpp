#include "gemm/internal/plan.hpp"

#include <string_view>

#include "gemm/internal/block_packing.hpp"
#include "gemm/internal/threads.hpp"
#include "gemm/internal/ways.hpp"

namespace zum_runtime::gemm::driver {

// Measured switch points (zum-gemm-bench's table of ways of running, float, one core). All of
// n in one narrow panel goes to the narrow tile before the stored rows, so that op(B) packs
// into one kind of panel whatever m is.
template <typename T>
Plan chosen_plan(const Problem<T>& p, const PathKernels<T>& kernels) {
  const bool b_untransposed = p.transpose_b == Transpose::no;
  const bool narrow = p.n <= kernels.narrow.nr;
  if (p.n <= kernels::max_few_columns) return {Strategy::columns, narrow};
  if (b_untransposed && p.m <= swept_rows_limit) return {Strategy::sweep, narrow};
  if (narrow) return {Strategy::stored_a, true};
  if (b_untransposed && p.m <= stored_rows_limit) return {Strategy::stored, false};
  if (p.n <= stored_a_columns_limit) return {Strategy::stored_a, false};
  return {Strategy::blocked, false};
}

// A strategy that needs an untransposed, unpacked B falls back to the blocked one.
template <typename T>
void run_plan(const Problem<T>& p, const PathKernels<T>& kernels, const Plan& plan) {
  const bool b_where_stored = p.transpose_b == Transpose::no || is_packed(p);
  switch (plan.strategy) {
    case Strategy::sweep:
      if (b_where_stored) return run_sweep(p, kernels);
      return run_blocked(p, kernels);
    case Strategy::stored:
      if (b_where_stored) return run_stored(p, kernels);
      return run_blocked(p, kernels);
    case Strategy::stored_a:
      return run_stored_a(p, kernels, plan.narrow_panels);
    case Strategy::columns:
      return run_columns(p, kernels, plan.narrow_panels);
    case Strategy::blocked:
    case Strategy::chosen:
      return run_blocked(p, kernels);
  }
}

template <typename T>
RunDescription describe(const Problem<T>& p, SimdPath path) {
  const PathKernels<T>& kernels = kernels::path_kernels<T>(path);
  const auto parts = static_cast<unsigned>(parts_of(p, threads_asked(p.threads)).size());
  const Plan plan = chosen_plan(p, kernels);
  const bool b_stored = p.transpose_b == Transpose::no && !is_packed(p);
  const kernels::Tile& tile = plan.narrow_panels ? kernels.narrow : kernels.wide;
  const std::string_view b_layout = blocked_data::layout_name(tile.b_layout);
  switch (plan.strategy) {
    case Strategy::sweep:
      return {"sweep", "stored", b_stored ? "stored" : b_layout, 0, 0, parts};
    case Strategy::stored:
      return {"stored", "stored", b_stored ? "stored" : b_layout, tile.pass_rows, tile.nr, parts};
    case Strategy::stored_a:
      return {"stored_a", "stored", b_layout, tile.pass_rows, tile.nr, parts};
    case Strategy::columns:
      return {"columns", "stored", "columns", 0, 0, parts};
    case Strategy::blocked:
    case Strategy::chosen:
      break;
  }
  return {"blocked", blocked_data::layout_name(tile.a_layout), b_layout, tile.mr, tile.nr, parts};
}

#define ZUM_INSTANTIATE(T)                                                          \
  template Plan chosen_plan<T>(const Problem<T>&, const PathKernels<T>&);           \
  template void run_plan<T>(const Problem<T>&, const PathKernels<T>&, const Plan&); \
  template RunDescription describe<T>(const Problem<T>&, SimdPath);
ZUM_INSTANTIATE(float)
ZUM_INSTANTIATE(double)
#undef ZUM_INSTANTIATE

}  // namespace zum_runtime::gemm::driver
