#include <sched.h>

#include <algorithm>
#include <vector>

#include "gemm/internal/block_packing.hpp"
#include "gemm/internal/plan.hpp"
#include "gemm/internal/threads.hpp"

// The thread split: C in ranges of whole row passes or column panels, one per thread, each run
// the way the whole problem's plan says.
namespace zum_runtime::gemm::driver {
namespace {

// Threads split C into row or column ranges that start on these multiples, so every element
// is computed by the same passes, in the same order, as on one thread: row passes are at most
// 16 rows, column panels at most 32 columns, and 64 keeps each thread's C on its own lines.
constexpr size_t thread_row_multiple = 16;
constexpr size_t thread_column_multiple = 64;
// A thread costs tens of microseconds to start: each gets at least this many multiply-adds,
// twice as many of the narrower operands that multiply twice as fast.
constexpr double multiply_adds_per_thread = 2.0e6;

unsigned cores_available() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
}

// Parts run along the longer of m and n, in whole units of the tile.
struct Split {
  bool by_rows;
  size_t extent, multiple, units;
};
Split split_of(size_t m, size_t n) {
  const bool by_rows = m >= n;
  const size_t extent = by_rows ? m : n;
  const size_t multiple = by_rows ? thread_row_multiple : thread_column_multiple;
  return {by_rows, extent, multiple, (extent + multiple - 1) / multiple};
}

}  // namespace

template <typename T, typename In>
size_t part_count(const Problem<T, In>& p, unsigned threads) {
  const double multiply_adds = double(p.m) * double(p.n) * double(p.k);
  const double per_thread = multiply_adds_per_thread * static_cast<double>(sizeof(T) / sizeof(In));
  const size_t by_work = static_cast<size_t>(std::max(1.0, multiply_adds / per_thread));
  return std::min({size_t{threads}, split_of(p.m, p.n).units, by_work});
}

template <typename T, typename In>
std::vector<Problem<T, In>> parts_of(const Problem<T, In>& p, unsigned threads) {
  const auto [by_rows, extent, multiple, units] = split_of(p.m, p.n);
  const size_t count = part_count(p, threads);
  std::vector<Problem<T, In>> parts;
  for (size_t part = 0; part < count; ++part) {
    const size_t first = std::min(extent, units * part / count * multiple);
    const size_t last = std::min(extent, units * (part + 1) / count * multiple);
    parts.push_back(by_rows ? rows_of(p, first, last - first) : columns_of(p, first, last - first));
  }
  return parts;
}

unsigned threads_asked(unsigned threads) {
  return threads == 0 ? cores_available() : threads;
}

SimdPath chosen_path() {
  static const SimdPath path = kernels::runnable_paths().back();
  return path;
}

// A problem as its own plan runs it, on problem.threads threads.
template <typename T>
void run_planned(const Problem<T>& p, SimdPath path, Strategy strategy) {
  const PathKernels<T>& kernels = kernels::path_kernels<T>(path);
  Plan plan = chosen_plan(p, kernels);
  if (strategy != Strategy::chosen) plan.strategy = strategy;
  if (is_packed(p)) plan.narrow_panels = p.packed_b.nr != kernels.wide.nr;
  const unsigned threads = threads_asked(p.threads);
  // One thread needs no split: small calls spend no allocation on one.
  if (threads == 1) return run_plan(p, kernels, plan);
  run_parts(parts_of(p, threads), [&](const Problem<T>& part) { run_plan(part, kernels, plan); });
}

template <typename T>
void run(const Problem<T>& p, SimdPath path, Strategy strategy) {
  if (p.m == 0 || p.n == 0) return;
  if (p.k == 0 || p.alpha == T{0}) {
    scale(output(p));
    return;
  }
  // The problem is copied only when it changes: copying it cost small calls 12 ns.
  if (!has_transposed_row(p)) return run_planned(p, path, strategy);
  run_planned(rows_untransposed(p, true), path, strategy);
}

#define ZUM_INSTANTIATE(T)                                                      \
  template size_t part_count<T, T>(const Problem<T>&, unsigned);                \
  template std::vector<Problem<T>> parts_of<T, T>(const Problem<T>&, unsigned); \
  template void run<T>(const Problem<T>&, SimdPath, Strategy);
ZUM_INSTANTIATE(float)
ZUM_INSTANTIATE(double)
#undef ZUM_INSTANTIATE
template std::vector<Problem<float, bfloat16>> parts_of<float, bfloat16>(
    const Problem<float, bfloat16>&, unsigned);
template std::vector<Problem<std::int32_t, std::uint8_t>> parts_of<std::int32_t, std::uint8_t>(
    const Problem<std::int32_t, std::uint8_t>&, unsigned);
template size_t part_count<float, bfloat16>(const Problem<float, bfloat16>&, unsigned);
template size_t part_count<std::int32_t, std::uint8_t>(const Problem<std::int32_t, std::uint8_t>&,
                                                       unsigned);

}  // namespace zum_runtime::gemm::driver
