#include "gemm.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "gemm_driver.hpp"
#include "packing.hpp"

namespace zum_runtime::gemm {
namespace driver {
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

// Shape switches, in elements.
// Shape switches. Up to swept_rows_limit rows of op(A), an untransposed B streams through once;
// up to stored_rows_limit, both operands are read where stored (a B read once per 8 rows beats
// packing it); up to stored_a_columns_limit columns of op(B), only op(B) is packed (op(A) read
// where stored beats packing an A that few columns reuse).
constexpr size_t swept_rows_limit = 6;
constexpr size_t stored_rows_limit = 8;
constexpr size_t stored_a_columns_limit = 128;

template <typename T>
constexpr bool fits_mapping(Blocking sizes) {
  return sizes.kc % 16 == 0 && sizes.kc * sizes.mc <= 65536 && sizes.kc * sizes.nc <= 65536;
}
static_assert(fits_mapping<float>(blocking<float>) && fits_mapping<double>(blocking<double>));

// ---------------------------------------------------------------------------------------------
// Refusals

struct StoredShape {
  const char* name;
  size_t rows;
  size_t columns;
  size_t row_stride;
};

template <typename T>
StoredShape stored_a(const Problem<T>& p) {
  return p.transpose_a == Transpose::no ? StoredShape{"a", p.m, p.k, p.a_row_stride}
                                        : StoredShape{"a", p.k, p.m, p.a_row_stride};
}
template <typename T>
StoredShape stored_b(const Problem<T>& p) {
  return p.transpose_b == Transpose::no ? StoredShape{"b", p.k, p.n, p.b_row_stride}
                                        : StoredShape{"b", p.n, p.k, p.b_row_stride};
}
template <typename T>
StoredShape stored_c(const Problem<T>& p) {
  return {"c", p.m, p.n, p.c_row_stride};
}

template <typename T>
[[noreturn, gnu::cold]] void refuse(const Problem<T>& p, const std::string& reason) {
  panic("gemm " + std::to_string(p.m) + " x " + std::to_string(p.n) + " x " + std::to_string(p.k) +
        ": " + reason);
}

// (rows − 1) × row_stride + columns, the elements a stored matrix spans; false on overflow.
bool extent_of(const StoredShape& shape, size_t& extent) {
  if (shape.rows == 0 || shape.columns == 0) {
    extent = 0;
    return true;
  }
  return !__builtin_mul_overflow(shape.rows - 1, shape.row_stride, &extent) &&
         !__builtin_add_overflow(extent, shape.columns, &extent);
}

template <typename T>
void require_stride(const Problem<T>& p, const StoredShape& shape) {
  if (shape.row_stride < shape.columns) {
    refuse(p, std::string(shape.name) + "_row_stride " + std::to_string(shape.row_stride) +
                  " is less than its " + std::to_string(shape.columns) + " columns");
  }
}

template <typename T, typename Element>
void require_span(const Problem<T>& p, const StoredShape& shape, std::span<Element> span) {
  size_t extent = 0;
  size_t bytes = 0;
  if (!extent_of(shape, extent) || __builtin_mul_overflow(extent, sizeof(T), &bytes)) {
    refuse(p, std::string(shape.name) + ": " + std::to_string(shape.rows) + " rows of stride " +
                  std::to_string(shape.row_stride) + " span more memory than exists");
  }
  if (span.size() < extent) {
    refuse(p, std::string(shape.name) + " holds " + std::to_string(span.size()) +
                  " elements, fewer than the " + std::to_string(extent) + " its " +
                  std::to_string(shape.rows) + " x " + std::to_string(shape.columns) +
                  " elements with row stride " + std::to_string(shape.row_stride) + " need");
  }
}

// The bytes a call touches of a stored matrix: `rows` runs of `width` bytes, `stride` apart.
struct Touched {
  std::uintptr_t start;
  size_t rows;
  size_t width;
  size_t stride;

  std::uintptr_t row_start(size_t row) const { return start + row * stride; }
};

template <typename T>
Touched touched(const StoredShape& shape, const T* data) {
  return {reinterpret_cast<std::uintptr_t>(data), shape.rows, shape.columns * sizeof(T),
          shape.row_stride * sizeof(T)};
}

// Whether some row of `y` shares a byte with [from, to).
bool meets(const Touched& y, std::uintptr_t from, std::uintptr_t to) {
  if (to <= y.start) return false;
  // The first row of y that ends after `from`.
  size_t row = 0;
  if (from >= y.start + y.width) {
    if (y.rows == 1) return false;
    row = (from - y.start - y.width) / y.stride + 1;
  }
  return row < y.rows && y.row_start(row) < to;
}

// Whether two strided regions share a byte; walks the one with fewer rows.
bool overlap(const Touched& x, const Touched& y) {
  if (x.rows == 0 || x.width == 0 || y.rows == 0 || y.width == 0) return false;
  if (x.rows > y.rows) return overlap(y, x);
  for (size_t row = 0; row < x.rows; ++row) {
    if (meets(y, x.row_start(row), x.row_start(row) + x.width)) return true;
  }
  return false;
}

template <typename T>
bool reads_operands(const Problem<T>& p) {
  return p.m != 0 && p.n != 0 && p.k != 0 && p.alpha != T{0};
}

// ---------------------------------------------------------------------------------------------
// Workspace: per thread, grown as needed, 64-byte aligned.

struct AlignedFree {
  void operator()(std::byte* bytes) const { ::operator delete[](bytes, std::align_val_t{64}); }
};

template <typename T>
T* workspace(size_t slot, size_t elements) {
  struct Slot {
    std::unique_ptr<std::byte[], AlignedFree> bytes;
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
// Running

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

// Steps over k in slabs of kc; every slab after the first adds to what C holds.
template <typename T, typename Slab>
void for_each_slab(const Problem<T>& p, size_t kc, Slab slab) {
  Output<T> out = output(p);
  for (size_t depth_start = 0; depth_start < p.k; depth_start += kc) {
    slab(depth_start, std::min(kc, p.k - depth_start), out);
    out.beta = T{1};
  }
}

// Both operands packed: per slab of k, every block of op(A) once, then each block of op(B)
// against all of them.
template <typename T>
void run_blocked(const Problem<T>& p, const PathKernels<T>& kernels) {
  const Blocking sizes = blocking<T>;
  const size_t a_blocks = (p.m + sizes.mc - 1) / sizes.mc;
  T* a_slab = workspace<T>(0, a_blocks * sizes.mc * sizes.kc);
  T* b_block = workspace<T>(1, sizes.kc * sizes.nc);
  for_each_slab(p, sizes.kc, [&](size_t depth_start, size_t depth, const Output<T>& out) {
    const size_t padded_depth = round_up(depth, 16);
    for (size_t row = 0; row < p.m; row += sizes.mc) {
      const size_t rows = std::min(sizes.mc, p.m - row);
      pack_a(p, row, depth_start, rows, depth, a_slab + row * padded_depth);
    }
    for (size_t column = 0; column < p.n; column += sizes.nc) {
      const size_t columns = std::min(sizes.nc, p.n - column);
      pack_b(p, kernels, depth_start, column, depth, columns, kernels.wide, b_block);
      for (size_t row = 0; row < p.m; row += sizes.mc) {
        const size_t rows = std::min(sizes.mc, p.m - row);
        kernels.packed(a_slab + row * padded_depth, b_block, padded_depth,
                       out.offset(row, column).shape(rows, columns));
      }
    }
  });
}

// op(A) where stored, against op(B) packed: into the narrow tile's panels when all of n fits
// one, the wide tile's otherwise.
template <typename T>
void run_stored_a(const Problem<T>& p, const PathKernels<T>& kernels) {
  const Blocking sizes = blocking<T>;
  const bool narrow = p.n <= kernels.narrow.nr;
  const auto multiply = narrow ? kernels.stored_a_narrow : kernels.stored_a_wide;
  T* b_block = workspace<T>(1, sizes.kc * sizes.nc);
  for_each_slab(p, sizes.kc, [&](size_t depth_start, size_t depth, const Output<T>& out) {
    const StridedMatrix<T> a = op_a(p).offset(0, depth_start);
    for (size_t column = 0; column < p.n; column += sizes.nc) {
      const size_t columns = std::min(sizes.nc, p.n - column);
      pack_b(p, kernels, depth_start, column, depth, columns,
             narrow ? kernels.narrow : kernels.wide, b_block);
      multiply(a, b_block, depth, round_up(depth, 16), out.offset(0, column).shape(p.m, columns));
    }
  });
}

// Both where stored; the columns past the last whole panel are packed, as one panel.
template <typename T>
void run_stored(const Problem<T>& p, const PathKernels<T>& kernels) {
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

// A row or two of op(A): B streams through once, row by row.
template <typename T>
void run_sweep(const Problem<T>& p, const PathKernels<T>& kernels) {
  const Output<T> out = output(p);
  scale(out);
  kernels.sweep(op_a(p), op_b(p), p.k, out);
}

// Measured switch points (zum-gemm-bench's table of ways of running, float, one core).
template <typename T>
Strategy chosen_strategy(const Problem<T>& p) {
  const bool b_untransposed = p.transpose_b == Transpose::no;
  if (b_untransposed && p.m <= swept_rows_limit) return Strategy::sweep;
  if (b_untransposed && p.m <= stored_rows_limit) return Strategy::stored;
  if (p.n <= stored_a_columns_limit) return Strategy::stored_a;
  return Strategy::blocked;
}

}  // namespace

template <typename T>
void validate(const Problem<T>& p) {
  for (const StoredShape& shape : {stored_a(p), stored_b(p), stored_c(p)}) require_stride(p, shape);
  if (p.m == 0 || p.n == 0) return;
  const bool reads = reads_operands(p);
  if (reads) {
    require_span(p, stored_a(p), p.a);
    require_span(p, stored_b(p), p.b);
  }
  require_span(p, stored_c(p), p.c);
  if (!reads) return;
  const Touched c = touched(stored_c(p), p.c.data());
  if (overlap(c, touched(stored_a(p), p.a.data()))) refuse(p, "c overlaps a");
  if (overlap(c, touched(stored_b(p), p.b.data()))) refuse(p, "c overlaps b");
}

template <typename T>
void run(const Problem<T>& p, SimdPath path, Strategy strategy) {
  if (p.m == 0 || p.n == 0) return;
  if (!reads_operands(p)) {
    scale(output(p));
    return;
  }
  const PathKernels<T>& kernels = kernels::path_kernels<T>(path);
  if (strategy == Strategy::chosen) strategy = chosen_strategy(p);
  switch (strategy) {
    case Strategy::stored:
      if (p.transpose_b == Transpose::no) return run_stored(p, kernels);
      return run_blocked(p, kernels);
    case Strategy::sweep:
      if (p.transpose_b == Transpose::no) return run_sweep(p, kernels);
      return run_blocked(p, kernels);
    case Strategy::stored_a:
      return run_stored_a(p, kernels);
    case Strategy::blocked:
    case Strategy::chosen:
      return run_blocked(p, kernels);
  }
}

template void validate<float>(const Problem<float>&);
template void validate<double>(const Problem<double>&);
template void run<float>(const Problem<float>&, SimdPath, Strategy);
template void run<double>(const Problem<double>&, SimdPath, Strategy);

}  // namespace driver

namespace {

template <typename T>
void multiply_checked(const driver::Problem<T>& problem) {
  static const kernels::SimdPath path = kernels::runnable_paths().back();
  driver::validate(problem);
  driver::run(problem, path);
}

}  // namespace

namespace detail {

void multiply_f32(Transpose transpose_a, Transpose transpose_b, std::size_t m, std::size_t n,
                  std::size_t k, float alpha, std::span<const float> a, std::size_t a_row_stride,
                  std::span<const float> b, std::size_t b_row_stride, float beta,
                  std::span<float> c, std::size_t c_row_stride) {
  multiply_checked<float>({transpose_a, transpose_b, m, n, k, alpha, a, a_row_stride, b,
                           b_row_stride, beta, c, c_row_stride});
}

void multiply_f64(Transpose transpose_a, Transpose transpose_b, std::size_t m, std::size_t n,
                  std::size_t k, double alpha, std::span<const double> a, std::size_t a_row_stride,
                  std::span<const double> b, std::size_t b_row_stride, double beta,
                  std::span<double> c, std::size_t c_row_stride) {
  multiply_checked<double>({transpose_a, transpose_b, m, n, k, alpha, a, a_row_stride, b,
                            b_row_stride, beta, c, c_row_stride});
}

}  // namespace detail
}  // namespace zum_runtime::gemm
