#include "gemm/internal/plan.hpp"

#include <unistd.h>

#include <string_view>

#include "gemm/internal/block_packing.hpp"
#include "gemm/internal/threads.hpp"
#include "gemm/internal/ways.hpp"

namespace zum_runtime::gemm::driver {

size_t l2_cache_bytes() {
  static const size_t bytes = [] {
    const long reported = sysconf(_SC_LEVEL2_CACHE_SIZE);
    return reported > 0 ? static_cast<size_t>(reported) : size_t{1} << 20;
  }();
  return bytes;
}

template <typename T>
Blocking block_sizes() {
  static const Blocking sizes{blocking<T>.kc, blocking<T>.mc,
                              block_columns_for<T>(l2_cache_bytes())};
  return sizes;
}

// Whether both operands read where stored beat packing for more rows than stored_rows_limit:
// an op(B) small enough to stay in L2 while op(A)'s passes read it again, in whole wide panels.
template <typename T>
bool stored_beats_packing(const Problem<T>& p, const PathKernels<T>& kernels) {
  return p.n >= kernels.wide.nr && p.k * p.n * sizeof(T) <= l2_cache_bytes() / 2;
}

// Few results against an untransposed B, each row's in 16-byte vectors and the columns past
// the last whole one alone, a few of them, and short chains of additions.
template <typename T>
bool few_vector_results(const Problem<T>& p) {
  const size_t steps_per_row = p.n / small_lanes<T> + p.n % small_lanes<T>;
  return p.transpose_b == Transpose::no && p.m <= small_results && p.n <= small_results &&
         p.m * p.n <= small_results && p.k <= small_depth &&
         p.m * steps_per_row * p.k <= small_vector_multiply_adds;
}

// Whether n ≤ few_columns_limit columns of op(B) run faster in the few-columns tiles than in a
// narrow panel: always down a transposed A's rows, along k once k is deep enough.
template <typename T>
bool few_columns_pay(const Problem<T>& p, size_t n, const PathKernels<T>& kernels) {
  return p.transpose_a == Transpose::yes || p.k >= dot_products_from(n, kernels);
}

// Measured switch points (zum-gemm-bench's table of ways of running, float, one core). Few rows
// against an untransposed B read both where stored, in narrow panels when n fits one (so that
// a packed B, packed in such panels, gives the same bits), the last panel loaded masked: 5 ×
// 12 × 696 ran at 51 GFLOPS so, at 17 with B packed. Only a few rows against many columns
// sweep B instead. One row against a transposed B is a row of dot products of B's stored rows.
template <typename T>
Plan chosen_plan(const Problem<T>& p, const PathKernels<T>& kernels) {
  const bool b_untransposed = p.transpose_b == Transpose::no;
  const bool narrow = p.n <= kernels.narrow.nr;
  // Each size bounded first, so that their product cannot wrap.
  const bool few_multiply_adds = p.m <= small_multiply_adds && p.n <= small_multiply_adds &&
                                 p.k <= small_multiply_adds &&
                                 p.m * p.n * p.k <= small_multiply_adds;
  // From 8 rows, even a small call of few columns runs faster in the few-columns tiles against
  // a transposed B, whose columns are its stored rows, or where a small call would sum some of
  // its columns one result at a time (8 × 4 × 2 A^T B^T: 41 ns, 49 summed; 19 × 3 × 1 A^T: 45,
  // 66 summed; 5 × 3 × 2 B^T: 39, 26 summed; 8 × 4 × 1: 33, 22 summed in vectors).
  const bool summed_alone = few_multiply_adds && p.n % small_lanes<T> != 0;
  const bool few_columns_of_few_rows = p.n <= few_columns_limit &&
                                       p.m >= few_columns_small_rows_least &&
                                       p.m <= few_columns_transposed_b_rows_limit;
  if (few_columns_of_few_rows && (!b_untransposed || summed_alone)) {
    return {Strategy::columns, narrow};
  }
  if (few_multiply_adds || few_vector_results(p)) return {Strategy::small, false};
  // Few columns run as dot products along k once k is deep enough, always down the rows of a
  // transposed A, and against a transposed B, whose columns are its stored rows, for few rows.
  const bool dot_products =
      p.n <= few_columns_limit && (few_columns_pay(p, p.n, kernels) ||
                                   (!b_untransposed && p.m <= few_columns_transposed_b_rows_limit));
  const bool transposed_b_dot_products =
      !b_untransposed && p.transpose_a == Transpose::no && p.m <= transposed_b_dot_rows_limit &&
      p.k >= (p.m <= 2 ? transposed_b_dot_depth_two_rows : transposed_b_dot_depth);
  if (dot_products || transposed_b_dot_products || (p.m == 1 && !b_untransposed)) {
    return {Strategy::columns, narrow};
  }
  const bool b_past_l2 = p.k * p.n * sizeof(T) > l2_cache_bytes() / 2;
  const bool stored_small_b = halves_vectors(kernels) && p.k > 1 &&
                              p.k * p.n * sizeof(T) <= halved_vectors_stored_small_b_bytes;
  const bool swept = (p.m <= swept_small_b_rows_limit && !stored_small_b) ||
                     (p.m <= swept_rows_limit && b_past_l2);
  if (b_untransposed && swept && !narrow) return {Strategy::sweep, false};
  const size_t stored_rows = narrow ? stored_narrow_rows_limit : stored_rows_limit;
  if (b_untransposed && p.m <= stored_rows) return {Strategy::stored, narrow};
  if (narrow) return {Strategy::stored_a, true};
  if (b_untransposed && stored_beats_packing(p, kernels)) return {Strategy::stored, false};
  if (p.n <= stored_a_columns_limit || p.k < packed_a_depth) return {Strategy::stored_a, false};
  return {Strategy::blocked, false};
}

// A transposed operand of one row runs as the row it is: the ways for an untransposed B read
// it where stored (12 x 48 x 1 B^T had its row gathered, then multiplied as 1 deep, 141 ns),
// and threads and a packed B see the same problem.
template <typename T>
bool a_is_transposed_row(const Problem<T>& p) {
  return p.transpose_a == Transpose::yes && p.m == 1 && p.a_row_stride == 1;
}
template <typename T>
bool b_is_transposed_row(const Problem<T>& p) {
  return p.transpose_b == Transpose::yes && p.k == 1;
}

template <typename T>
bool has_transposed_row(const Problem<T>& p) {
  return a_is_transposed_row(p) || b_is_transposed_row(p);
}

template <typename T>
Problem<T> rows_untransposed(Problem<T> p, bool copy_b_row) {
  if (a_is_transposed_row(p)) {
    p.transpose_a = Transpose::no;
    p.a_row_stride = p.k;
  }
  if (b_is_transposed_row(p)) {
    // Workspace slot 2 is the float paths' own: bf16 widens into slots 2 and 3, but its
    // operands are compact, so a transposed B's row is never copied there.
    if (copy_b_row && !is_packed(p) && p.b_row_stride != 1) {
      T* b_row = workspace<T>(2, p.n);
      for (size_t j = 0; j < p.n; ++j) b_row[j] = p.b[j * p.b_row_stride];
      p.b = {b_row, p.n};
    }
    p.transpose_b = Transpose::no;
    p.b_row_stride = p.n;
  }
  return p;
}

// The columns past the last half-panel of a plan that runs op(B) in panels, when they are so
// few that the few-columns tiles fill their vectors where a half-panel would leave most lanes
// idle: 89 × 18 × 72 A^T ran 32 columns' worth in 3.9 us, 89 × 16 × 72 and 89 × 2 × 72 apart
// take 1.9 and 0.7. None where few columns would not run as dot products or down the rows.
template <typename T>
size_t few_last_columns(const Problem<T>& p, const PathKernels<T>& kernels, const Plan& plan) {
  const bool panels = plan.strategy == Strategy::stored || plan.strategy == Strategy::stored_a ||
                      plan.strategy == Strategy::blocked;
  const size_t half_panel = kernels.wide.nr / 2;
  if (!panels || plan.narrow_panels || half_panel < 8 || p.n <= half_panel) return 0;
  const size_t few = p.n % half_panel;
  if (few == 0 || few > few_columns_limit) return 0;
  return few_columns_pay(p, few, kernels) ? few : 0;
}

// A strategy that needs an untransposed, unpacked B falls back to the blocked one.
template <typename T>
void run_plan(const Problem<T>& p, const PathKernels<T>& kernels, const Plan& plan) {
  if (const size_t few = few_last_columns(p, kernels, plan); few != 0) {
    run_plan(columns_of(p, 0, p.n - few), kernels, plan);
    return run_columns(columns_of(p, p.n - few, few), kernels, false);
  }
  const bool b_where_stored = p.transpose_b == Transpose::no || is_packed(p);
  switch (plan.strategy) {
    case Strategy::sweep:
      if (b_where_stored) return run_sweep(p, kernels);
      return run_blocked(p, kernels);
    case Strategy::stored:
      if (b_where_stored) return run_stored(p, kernels, plan.narrow_panels);
      return run_blocked(p, kernels);
    case Strategy::stored_a:
      return run_stored_a(p, kernels, plan.narrow_panels);
    case Strategy::columns:
      return run_columns(p, kernels, plan.narrow_panels);
    case Strategy::small:
      return run_small(p);
    case Strategy::blocked:
    case Strategy::chosen:
      return run_blocked(p, kernels);
  }
}

template <typename T>
RunDescription describe(const Problem<T>& problem, SimdPath path) {
  const PathKernels<T>& kernels = kernels::path_kernels<T>(path);
  const Problem<T> p = rows_untransposed(problem, false);
  const auto parts = static_cast<unsigned>(part_count(p, threads_asked(p.threads)));
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
      if (gathers_rows(p)) return {"stored_a", "stored", "rows", tile.pass_rows, tile.nr, parts};
      return {"stored_a", "stored", b_layout, tile.pass_rows, tile.nr, parts};
    case Strategy::columns:
      return {"columns", "stored", "columns", 0, 0, parts};
    case Strategy::small:
      return {"small", "stored", b_stored ? "stored" : b_layout, 0, 0, parts};
    case Strategy::blocked:
    case Strategy::chosen:
      break;
  }
  return {"blocked", blocked_data::layout_name(tile.a_layout), b_layout, tile.mr, tile.nr, parts};
}

#define ZUM_INSTANTIATE(T)                                                                    \
  template Blocking block_sizes<T>();                                                         \
  template Plan chosen_plan<T>(const Problem<T>&, const PathKernels<T>&);                     \
  template void run_plan<T>(const Problem<T>&, const PathKernels<T>&, const Plan&);           \
  template size_t few_last_columns<T>(const Problem<T>&, const PathKernels<T>&, const Plan&); \
  template RunDescription describe<T>(const Problem<T>&, SimdPath);                           \
  template bool has_transposed_row<T>(const Problem<T>&);                                     \
  template Problem<T> rows_untransposed<T>(Problem<T>, bool);
ZUM_INSTANTIATE(float)
ZUM_INSTANTIATE(double)
#undef ZUM_INSTANTIATE

}  // namespace zum_runtime::gemm::driver
