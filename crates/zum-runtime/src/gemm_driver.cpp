#include "gemm_driver.hpp"

#include <sched.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "packing.hpp"

namespace zum_runtime::gemm::driver {
namespace {

using kernels::Output;
using kernels::PathKernels;
using kernels::round_up;
using kernels::StridedMatrix;
using std::size_t;

// Block sizes. A packed block holds at most 65,536 elements, the mapping's limit; kc is a
// whole number of 16-column groups.
struct Blocking {
  size_t kc;  // depth of a packed block
  size_t mc;  // rows of op(A) in a family B block
  size_t nc;  // columns of op(B) in a family A block
};
template <typename T>
constexpr Blocking blocking{256, 256, 256};
template <>
constexpr Blocking blocking<double>{256, 128, 256};

template <typename T>
constexpr bool fits_mapping(Blocking sizes) {
  return sizes.kc % 16 == 0 && sizes.kc * sizes.mc <= 65536 && sizes.kc * sizes.nc <= 65536;
}
static_assert(fits_mapping<float>(blocking<float>) && fits_mapping<double>(blocking<double>));

// Shape switches. Up to swept_rows_limit rows of op(A), an untransposed B streams through once;
// up to stored_rows_limit, both operands are read where stored (a B read once per 8 rows beats
// packing it); up to stored_a_columns_limit columns of op(B), only op(B) is packed (op(A) read
// where stored beats packing an A that few columns reuse).
constexpr size_t swept_rows_limit = 6;
constexpr size_t stored_rows_limit = 8;
constexpr size_t stored_a_columns_limit = 128;

// Threads split C into row or column ranges that start on these multiples, so every element
// is computed by the same passes, in the same order, as on one thread: row passes are at most
// 16 rows, column panels at most 32 columns, and 64 keeps each thread's C on its own lines.
constexpr size_t thread_row_multiple = 16;
constexpr size_t thread_column_multiple = 64;
// A thread costs tens of microseconds to start: each gets at least this many multiply-adds.
constexpr double multiply_adds_per_thread = 2.0e6;

// How a problem runs, decided once from the whole problem so that every thread's part of it
// runs the same way.
struct Plan {
  Strategy strategy;
  bool narrow_panels;  // op(B)'s panels have the narrow tile's columns
};

// ---------------------------------------------------------------------------------------------
// Workspace: per thread, grown as needed, 64-byte aligned.

template <typename T>
T* workspace(size_t slot, size_t elements) {
  struct Slot {
    std::unique_ptr<std::byte[], detail::AlignedDelete> bytes;
    size_t size = 0;
  };
  thread_local Slot slots[2];
  Slot& s = slots[slot];
  const size_t needed = elements * sizeof(T);
  if (s.size < needed) {
    s.bytes.reset(static_cast<std::byte*>(::operator new[](needed, std::align_val_t{64})));
    s.size = needed;
  }
  return reinterpret_cast<T*>(s.bytes.get());
}

// ---------------------------------------------------------------------------------------------
// Operands

template <typename T>
StridedMatrix<T> op_a(const Problem<T>& p) {
  return p.transpose_a == Transpose::no ? StridedMatrix<T>{p.a.data(), p.a_row_stride, 1}
                                        : StridedMatrix<T>{p.a.data(), 1, p.a_row_stride};
}
template <typename T>
StridedMatrix<T> op_b(const Problem<T>& p) {
  return p.transpose_b == Transpose::no ? StridedMatrix<T>{p.b.data(), p.b_row_stride, 1}
                                        : StridedMatrix<T>{p.b.data(), 1, p.b_row_stride};
}
template <typename T>
Output<T> output(const Problem<T>& p) {
  return {p.c.data(), p.c_row_stride, p.m, p.n, p.alpha, p.beta};
}
template <typename T>
bool is_packed(const Problem<T>& p) {
  return p.packed_b.data != nullptr;
}

// C ← beta · C, reading C only when beta is not 0.
template <typename T>
void scale(const Output<T>& out) {
  if (out.beta == T{1}) return;
  for (size_t row = 0; row < out.rows; ++row) {
    T* c_row = out.c + row * out.row_stride;
    for (size_t column = 0; column < out.columns; ++column) {
      c_row[column] = out.beta == T{0} ? T{0} : out.beta * c_row[column];
    }
  }
}

// op(A)'s rows × depth block from (row, depth_start) into a KivB8x16 buffer.
template <typename T>
void pack_a(const Problem<T>& p, size_t row, size_t depth_start, size_t rows, size_t depth,
            T* buffer) {
  const StridedMatrix<T> from = op_a(p).offset(row, depth_start);
  if (p.transpose_a == Transpose::yes) {
    kernels::pack_channels(from, rows, depth, buffer);
    return;
  }
  const size_t elements = round_up(rows, 8) * round_up(depth, 16);
  blocked_data::pack<T>(blocked_data::BlockLayout::KivB8x16, static_cast<std::uint16_t>(rows),
                        static_cast<std::uint16_t>(depth),
                        std::span(from.data, (rows - 1) * p.a_row_stride + depth), p.a_row_stride,
                        std::span(buffer, elements));
}

// op(B)'s depth × columns block into a family A buffer of nr-column panels, its depth padded
// to 16 with zero rows. An untransposed B of whole groups is exactly what pack writes.
template <typename T>
void pack_b(const Problem<T>& p, const PathKernels<T>& kernels, size_t depth_start, size_t column,
            size_t depth, size_t columns, const kernels::Tile& tile, T* buffer) {
  const StridedMatrix<T> from = op_b(p).offset(depth_start, column);
  if (p.transpose_b == Transpose::yes) {
    kernels.pack_transposed_rows(from, depth, columns, tile.nr, buffer);
    return;
  }
  if (depth % 16 != 0) {
    kernels::pack_rows(from, depth, columns, tile.nr, buffer);
    return;
  }
  const size_t elements = depth * round_up(columns, tile.nr);
  blocked_data::pack<T>(tile.b_layout, static_cast<std::uint16_t>(depth),
                        static_cast<std::uint16_t>(columns),
                        std::span(from.data, (depth - 1) * p.b_row_stride + columns),
                        p.b_row_stride, std::span(buffer, elements));
}

// The packed block of op(B) at (depth_start, column): from the problem's packed B, or packed
// now into `buffer`.
template <typename T>
const T* b_block(const Problem<T>& p, const PathKernels<T>& kernels, size_t depth_start,
                 size_t column, size_t depth, size_t columns, const kernels::Tile& tile,
                 T* buffer) {
  if (!is_packed(p)) {
    pack_b(p, kernels, depth_start, column, depth, columns, tile, buffer);
    return buffer;
  }
  const PackedView<T>& packed = p.packed_b;
  return packed.data + depth_start * packed.padded_columns +
         (packed.first_column + column) * round_up(depth, 16);
}

// Steps over k in slabs of kc; every slab after the first adds to what C holds.
template <typename T, typename Slab>
void for_each_slab(const Problem<T>& p, size_t kc, Slab slab) {
  Output<T> out = output(p);
  for (size_t depth_start = 0; depth_start < p.k; depth_start += kc) {
    slab(depth_start, std::min(kc, p.k - depth_start), out);
    out.beta = T{1};
  }
}

// ---------------------------------------------------------------------------------------------
// The ways of running

// Both operands packed: per slab of k, every block of op(A) once, then each block of op(B)
// against all of them.
template <typename T>
void run_blocked(const Problem<T>& p, const PathKernels<T>& kernels) {
  const Blocking sizes = blocking<T>;
  const size_t a_blocks = (p.m + sizes.mc - 1) / sizes.mc;
  T* a_slab = workspace<T>(0, a_blocks * sizes.mc * sizes.kc);
  T* b_buffer = workspace<T>(1, sizes.kc * sizes.nc);
  for_each_slab(p, sizes.kc, [&](size_t depth_start, size_t depth, const Output<T>& out) {
    const size_t padded_depth = round_up(depth, 16);
    for (size_t row = 0; row < p.m; row += sizes.mc) {
      const size_t rows = std::min(sizes.mc, p.m - row);
      pack_a(p, row, depth_start, rows, depth, a_slab + row * padded_depth);
    }
    for (size_t column = 0; column < p.n; column += sizes.nc) {
      const size_t columns = std::min(sizes.nc, p.n - column);
      const T* b = b_block(p, kernels, depth_start, column, depth, columns, kernels.wide, b_buffer);
      for (size_t row = 0; row < p.m; row += sizes.mc) {
        const size_t rows = std::min(sizes.mc, p.m - row);
        kernels.packed(a_slab + row * padded_depth, b, padded_depth,
                       out.offset(row, column).shape(rows, columns));
      }
    }
  });
}

// op(A) where stored, against op(B) packed into the narrow or the wide tile's panels.
template <typename T>
void run_stored_a(const Problem<T>& p, const PathKernels<T>& kernels, bool narrow) {
  const Blocking sizes = blocking<T>;
  const auto multiply = narrow ? kernels.stored_a_narrow : kernels.stored_a_wide;
  T* b_buffer = workspace<T>(1, sizes.kc * sizes.nc);
  for_each_slab(p, sizes.kc, [&](size_t depth_start, size_t depth, const Output<T>& out) {
    const StridedMatrix<T> a = op_a(p).offset(0, depth_start);
    for (size_t column = 0; column < p.n; column += sizes.nc) {
      const size_t columns = std::min(sizes.nc, p.n - column);
      const T* b = b_block(p, kernels, depth_start, column, depth, columns,
                           narrow ? kernels.narrow : kernels.wide, b_buffer);
      multiply(a, b, depth, round_up(depth, 16), out.offset(0, column).shape(p.m, columns));
    }
  });
}

// Both where stored; the columns past the last whole panel are packed, as one panel. The
// kernels compute exactly what run_stored_a computes with the wide panels, which a packed B
// holds.
template <typename T>
void run_stored(const Problem<T>& p, const PathKernels<T>& kernels) {
  if (is_packed(p)) return run_stored_a(p, kernels, p.packed_b.nr != kernels.wide.nr);
  const Blocking sizes = blocking<T>;
  const size_t nr = kernels.wide.nr;
  const size_t whole_columns = p.n / nr * nr;
  T* tail_panel = workspace<T>(1, sizes.kc * nr);
  for_each_slab(p, sizes.kc, [&](size_t depth_start, size_t depth, const Output<T>& out) {
    const StridedMatrix<T> a = op_a(p).offset(0, depth_start);
    if (whole_columns != 0) {
      kernels.stored(a, op_b(p).offset(depth_start, 0), depth, out.shape(p.m, whole_columns));
    }
    if (whole_columns != p.n) {
      const size_t columns = p.n - whole_columns;
      kernels::pack_rows(op_b(p).offset(depth_start, whole_columns), depth, columns, nr,
                         tail_panel);
      kernels.stored_a_wide(a, tail_panel, depth, round_up(depth, 16),
                            out.offset(0, whole_columns));
    }
  });
}

// A few rows of op(A): B streams through once, row by row; a packed B panel by panel, in the
// same order of k.
template <typename T>
void run_sweep(const Problem<T>& p, const PathKernels<T>& kernels) {
  const Output<T> out = output(p);
  scale(out);
  if (!is_packed(p)) return kernels.sweep(op_a(p), op_b(p), p.k, out);
  const size_t kc = blocking<T>.kc;
  const size_t nr = p.packed_b.nr;
  for (size_t depth_start = 0; depth_start < p.k; depth_start += kc) {
    const size_t depth = std::min(kc, p.k - depth_start);
    const StridedMatrix<T> a = op_a(p).offset(0, depth_start);
    for (size_t column = 0; column < p.n; column += nr) {
      const T* panel =
          b_block<T>(p, kernels, depth_start, column, depth, nr, kernels.wide, nullptr);
      kernels.sweep(a, {panel, nr, 1}, depth,
                    out.offset(0, column).shape(p.m, std::min(nr, p.n - column)));
    }
  }
}

// Measured switch points (zum-gemm-bench's table of ways of running, float, one core). All of
// n in one narrow panel goes to the narrow tile before the stored rows, so that op(B) packs
// into one kind of panel whatever m is.
template <typename T>
Plan chosen_plan(const Problem<T>& p, const PathKernels<T>& kernels) {
  const bool b_untransposed = p.transpose_b == Transpose::no;
  const bool narrow = p.n <= kernels.narrow.nr;
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
    case Strategy::blocked:
    case Strategy::chosen:
      return run_blocked(p, kernels);
  }
}

// ---------------------------------------------------------------------------------------------
// Threads

unsigned cores_available() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
}

// The rows [first, first + count) of the problem, or its columns.
template <typename T>
Problem<T> rows_of(Problem<T> p, size_t first, size_t count) {
  p.a = p.a.subspan(p.transpose_a == Transpose::no ? first * p.a_row_stride : first);
  p.c = p.c.subspan(first * p.c_row_stride);
  p.m = count;
  return p;
}
template <typename T>
Problem<T> columns_of(Problem<T> p, size_t first, size_t count) {
  if (is_packed(p)) {
    p.packed_b.first_column += first;
  } else {
    p.b = p.b.subspan(p.transpose_b == Transpose::no ? first : first * p.b_row_stride);
  }
  p.c = p.c.subspan(first);
  p.n = count;
  return p;
}

// The parts the threads take: ranges of whole multiples of rows (or columns) of C.
template <typename T>
std::vector<Problem<T>> parts_of(const Problem<T>& p, unsigned threads) {
  const bool by_rows = p.m >= p.n;
  const size_t extent = by_rows ? p.m : p.n;
  const size_t multiple = by_rows ? thread_row_multiple : thread_column_multiple;
  const size_t units = (extent + multiple - 1) / multiple;
  const double multiply_adds = double(p.m) * double(p.n) * double(p.k);
  const size_t by_work =
      static_cast<size_t>(std::max(1.0, multiply_adds / multiply_adds_per_thread));
  const size_t count = std::min({size_t{threads}, units, by_work});
  std::vector<Problem<T>> parts;
  for (size_t part = 0; part < count; ++part) {
    const size_t first = std::min(extent, units * part / count * multiple);
    const size_t last = std::min(extent, units * (part + 1) / count * multiple);
    parts.push_back(by_rows ? rows_of(p, first, last - first) : columns_of(p, first, last - first));
  }
  return parts;
}

// Runs the parts on their own threads, the first on the caller's; a failure in any part is
// rethrown to the caller once all have finished.
template <typename T>
void run_parts(const std::vector<Problem<T>>& parts, const PathKernels<T>& kernels,
               const Plan& plan) {
  std::vector<std::exception_ptr> failures(parts.size());
  const auto run_part = [&](size_t part) {
    try {
      run_plan(parts[part], kernels, plan);
    } catch (...) {
      failures[part] = std::current_exception();
    }
  };
  {
    std::vector<std::jthread> workers;
    for (size_t part = 1; part < parts.size(); ++part) workers.emplace_back(run_part, part);
    run_part(0);
  }
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

}  // namespace

SimdPath chosen_path() {
  static const SimdPath path = kernels::runnable_paths().back();
  return path;
}

template <typename T>
void run(const Problem<T>& p, SimdPath path, Strategy strategy) {
  if (p.m == 0 || p.n == 0) return;
  if (p.k == 0 || p.alpha == T{0}) {
    scale(output(p));
    return;
  }
  const PathKernels<T>& kernels = kernels::path_kernels<T>(path);
  Plan plan = chosen_plan(p, kernels);
  if (strategy != Strategy::chosen) plan.strategy = strategy;
  if (is_packed(p)) plan.narrow_panels = p.packed_b.nr != kernels.wide.nr;
  const unsigned threads = p.threads == 0 ? cores_available() : p.threads;
  run_parts(parts_of(p, threads), kernels, plan);
}

template <typename T>
RunDescription describe(const Problem<T>& p, SimdPath path) {
  const PathKernels<T>& kernels = kernels::path_kernels<T>(path);
  const unsigned threads = p.threads == 0 ? cores_available() : p.threads;
  const auto parts = static_cast<unsigned>(parts_of(p, threads).size());
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
    case Strategy::blocked:
    case Strategy::chosen:
      break;
  }
  return {"blocked", blocked_data::layout_name(tile.a_layout), b_layout, tile.mr, tile.nr, parts};
}

template <typename T>
size_t packed_panel_columns(size_t n, SimdPath path) {
  const PathKernels<T>& kernels = kernels::path_kernels<T>(path);
  return n <= kernels.narrow.nr ? kernels.narrow.nr : kernels.wide.nr;
}

template <typename T>
size_t packed_b_elements(size_t k, size_t n, SimdPath path) {
  const size_t nr = packed_panel_columns<T>(n, path);
  return round_up(k, 16) * round_up(n, nr);
}

// Slab by slab, each slab's blocks side by side: one family A buffer of panels per slab.
template <typename T>
void pack_b_whole(const Problem<T>& p, SimdPath path, T* buffer) {
  const PathKernels<T>& kernels = kernels::path_kernels<T>(path);
  const size_t nr = packed_panel_columns<T>(p.n, path);
  const kernels::Tile& tile = nr == kernels.wide.nr ? kernels.wide : kernels.narrow;
  const Blocking sizes = blocking<T>;
  const size_t padded_columns = round_up(p.n, nr);
  for (size_t depth_start = 0; depth_start < p.k; depth_start += sizes.kc) {
    const size_t depth = std::min(sizes.kc, p.k - depth_start);
    T* slab = buffer + depth_start * padded_columns;
    for (size_t column = 0; column < p.n; column += sizes.nc) {
      const size_t columns = std::min(sizes.nc, p.n - column);
      pack_b(p, kernels, depth_start, column, depth, columns, tile,
             slab + column * round_up(depth, 16));
    }
  }
}

template void run<float>(const Problem<float>&, SimdPath, Strategy);
template void run<double>(const Problem<double>&, SimdPath, Strategy);
template RunDescription describe<float>(const Problem<float>&, SimdPath);
template RunDescription describe<double>(const Problem<double>&, SimdPath);
template size_t packed_panel_columns<float>(size_t, SimdPath);
template size_t packed_panel_columns<double>(size_t, SimdPath);
template size_t packed_b_elements<float>(size_t, size_t, SimdPath);
template size_t packed_b_elements<double>(size_t, size_t, SimdPath);
template void pack_b_whole<float>(const Problem<float>&, SimdPath, float*);
template void pack_b_whole<double>(const Problem<double>&, SimdPath, double*);

}  // namespace zum_runtime::gemm::driver
