#include <algorithm>
#include <cstring>

#include "gemm/internal/block_packing.hpp"
#include "gemm/internal/kernels/packed_tile.hpp"
#include "gemm/internal/ways.hpp"
#include "simd/internal/vectors.hpp"

// The skinny ways, for few rows or few columns: op(A) read where it is stored, op(B) packed
// (stored_a) or read where stored too (stored), streamed through once (sweep), or its few
// columns copied contiguous (columns).
namespace zum_runtime::gemm::driver {

using kernels::round_up;

// Shallower than gathered_rows_depth, a transposed B is turned into rows, and both are read
// where stored, in panels as wide: packing it into panels padded to 16 deep cost 9 × 136 × 2
// more than its multiply-adds. A packed B gives the same bits: the same tiles in the same order.
// Row by row, so that the writes are contiguous (3 x 80 x 2: 172 -> 121 ns), unrolled so
// that the loop's own work does not outweigh the copies (13 x 178 x 3: 447 -> 393 ns).
template <typename T>
void run_gathered_rows(const Problem<T>& p, const PathKernels<T>& kernels, bool narrow) {
  T* rows = workspace<T>(1, p.k * p.n);
  const StridedMatrix<T> b = op_b(p);
  for (size_t q = 0; q < p.k; ++q) {
    T* row = rows + q * p.n;
#pragma GCC unroll 8
    for (size_t j = 0; j < p.n; ++j) row[j] = b.at(q, j);
  }
  const auto multiply = narrow ? kernels.stored_narrow : kernels.stored;
  multiply(op_a(p), {rows, p.n, 1}, p.k, output(p));
}

// op(A) where stored, against op(B) packed into the narrow or the wide tile's panels.
template <typename T>
void run_stored_a(const Problem<T>& p, const PathKernels<T>& kernels, bool narrow) {
  if (gathers_rows(p)) return run_gathered_rows(p, kernels, narrow);
  const Blocking sizes = block_sizes<T>();
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

// Both where stored, in wide or narrow panels, the last partial panel of op(B) loaded masked.
// The kernels compute exactly what run_stored_a computes with panels as wide, which a packed B
// holds.
template <typename T>
void run_stored(const Problem<T>& p, const PathKernels<T>& kernels, bool narrow) {
  if (is_packed(p)) return run_stored_a(p, kernels, p.packed_b.nr != kernels.wide.nr);
  const auto multiply = narrow ? kernels.stored_narrow : kernels.stored;
  for_each_slab(p, blocking<T>.kc, [&](size_t depth_start, size_t depth, const Output<T>& out) {
    multiply(op_a(p).offset(0, depth_start), op_b(p).offset(depth_start, 0), depth, out);
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

// op(B)(p, j) from a packed B: slab by slab of kc steps, each slab the family A panels the
// packed tile reads.
template <typename T>
T packed_element(const PackedView<T>& packed, size_t k, size_t p, size_t j) {
  const size_t kc = blocking<T>.kc;
  const size_t slab_start = p / kc * kc;
  const size_t padded_depth = round_up(std::min(kc, k - slab_start), 16);
  return kernels::scalar::packed_b(packed.data + slab_start * packed.padded_columns, padded_depth,
                                   packed.nr, p - slab_start, packed.first_column + j);
}

// A B's `count` columns where stored, row by row as an untransposed one lies; a count known
// when compiling keeps the loop over them from costing more than the copies (1 × 3 × 239 spent
// 280 ns here).
template <size_t count, typename T>
void copy_few_columns(const StridedMatrix<T>& b, size_t depth, T* columns, size_t q = 0) {
  static_assert(count <= kernels::max_few_columns);
  for (; q < depth; ++q) {
    for (size_t j = 0; j < count; ++j) columns[j * depth + q] = b.at(q, j);
  }
}

// Four float columns of rows one element apart, four rows at a time transposed in registers,
// the rest one by one: element by element, 13 × 4 × 213 spent a third of its time copying.
inline void copy_four_float_columns(const StridedMatrix<float>& b, size_t depth, float* columns) {
  using V = simd::Vector<float, 4>;
  const auto row = [&](size_t q) {
    V r;
    std::memcpy(&r, &b.at(q, 0), sizeof r);
    return r;
  };
  size_t q = 0;
  for (; q + 4 <= depth; q += 4) {
    const V r0 = row(q), r1 = row(q + 1), r2 = row(q + 2), r3 = row(q + 3);
    const V low01 = __builtin_shufflevector(r0, r1, 0, 4, 1, 5);
    const V high01 = __builtin_shufflevector(r0, r1, 2, 6, 3, 7);
    const V low23 = __builtin_shufflevector(r2, r3, 0, 4, 1, 5);
    const V high23 = __builtin_shufflevector(r2, r3, 2, 6, 3, 7);
    const V column[4] = {__builtin_shufflevector(low01, low23, 0, 1, 4, 5),
                         __builtin_shufflevector(low01, low23, 2, 3, 6, 7),
                         __builtin_shufflevector(high01, high23, 0, 1, 4, 5),
                         __builtin_shufflevector(high01, high23, 2, 3, 6, 7)};
    for (size_t j = 0; j < 4; ++j) std::memcpy(columns + j * depth + q, &column[j], sizeof(V));
  }
  copy_few_columns<4>(b, depth, columns, q);
}

// op(B)'s columns, column j contiguous over k at columns + j · k, whether B is stored either way
// or packed, so that every call with the same op(B) multiplies the same numbers in the same
// order. A B where stored is read row by row, as an untransposed one lies.
template <typename T>
void copy_columns(const Problem<T>& p, T* columns) {
  if (is_packed(p)) {
    for (size_t j = 0; j < p.n; ++j) {
      for (size_t q = 0; q < p.k; ++q) {
        columns[j * p.k + q] = packed_element(p.packed_b, p.k, q, j);
      }
    }
    return;
  }
  switch (p.n) {
    case 1:
      return copy_few_columns<1>(op_b(p), p.k, columns);
    case 2:
      return copy_few_columns<2>(op_b(p), p.k, columns);
    case 3:
      return copy_few_columns<3>(op_b(p), p.k, columns);
    default:
      if constexpr (std::is_same_v<T, float>) {
        if (op_b(p).column_step == 1) return copy_four_float_columns(op_b(p), p.k, columns);
      }
      return copy_few_columns<4>(op_b(p), p.k, columns);
  }
}

// One row of C as the one column of Cᵀ = op(B)ᵀ op(A)ᵀ: op(B)'s columns are the rows the
// few-columns tiles run along, op(A)'s row the column. The plan sends only a transposed B here
// (one row against an untransposed B sweeps it), so a packed B is unpacked as a transposed B
// is stored, its columns contiguous over k, and the same tiles read it in the same order.
template <typename T>
void run_one_row(const Problem<T>& p, const PathKernels<T>& kernels) {
  const StridedMatrix<T> a = op_a(p);
  const T* a_row = a.data;
  if (a.column_step != 1) {
    T* copied = workspace<T>(1, p.k);
    for (size_t q = 0; q < p.k; ++q) copied[q] = a.at(0, q);
    a_row = copied;
  }
  const StridedMatrix<T> b = op_b(p);
  StridedMatrix<T> b_columns{b.data, b.column_step, b.row_step};
  if (is_packed(p)) {
    T* unpacked = workspace<T>(0, p.n * p.k);
    copy_columns(p, unpacked);
    b_columns = {unpacked, p.k, 1};
  }
  const Output<T> out = output(p);
  kernels.few_columns(b_columns, a_row, p.k, p.k, {out.c, 1, p.n, 1, out.alpha, out.beta});
}

// A few columns of op(B), too few to fill a panel's vectors: op(A) where stored against them,
// in the few-columns tiles, a few columns at a time. So run few rows against a deep transposed
// B too (plan.hpp), every result a dot product of op(A)'s row and B's stored row. One row of C
// against many columns runs as one column of Cᵀ; other shapes of many columns run stored_a with
// panels as narrow as `narrow` says.
template <typename T>
void run_columns(const Problem<T>& p, const PathKernels<T>& kernels, bool narrow) {
  if (p.n > kernels::max_few_columns && p.m == 1) return run_one_row(p, kernels);
  if (p.n > kernels::max_few_columns && p.transpose_b == Transpose::no) {
    return run_stored_a(p, kernels, narrow);
  }
  // op(B)'s columns contiguous where stored already: a transposed B's stored rows, or the one
  // column of a B whose rows are one element apart. Otherwise copied, a packed B to the same
  // bits.
  const StridedMatrix<T> b = op_b(p);
  const T* columns = b.data;
  size_t column_stride = b.column_step;
  if (b.row_step != 1 || is_packed(p)) {
    T* copied = workspace<T>(1, p.n * p.k);
    copy_columns(p, copied);
    columns = copied;
    column_stride = p.k;
  }
  const Output<T> out = output(p);
  constexpr size_t group = kernels::max_few_columns;
  for (size_t column = 0; column < p.n; column += group) {
    const size_t count = std::min(group, p.n - column);
    kernels.few_columns(op_a(p), columns + column * column_stride, p.k, column_stride,
                        out.offset(0, column).shape(p.m, count));
  }
}

// c ← alpha · sum + beta · c, as every small call stores a result.
template <typename T>
void store_sum(const Output<T>& out, T& c, T sum) {
  c = out.beta != T{0} ? out.alpha * sum + out.beta * c : out.alpha * sum;
}

// Each result from column `first_column` on a plain sum over k in order, op(B) read through
// `b_at`.
template <typename T, typename BAt>
void sum_each_result(const Problem<T>& p, size_t first_column, BAt b_at) {
  const StridedMatrix<T> a = op_a(p);
  const Output<T> out = output(p);
  for (size_t i = 0; i < p.m; ++i) {
    T* c_row = out.c + i * out.row_stride;
    for (size_t j = first_column; j < p.n; ++j) {
      T sum{0};
      for (size_t q = 0; q < p.k; ++q) sum += a.at(i, q) * b_at(q, j);
      store_sum(out, c_row[j], sum);
    }
  }
}

// The same sums for the columns before `columns`, a whole number of vectors, a vector of a
// row's results at a time from op(B)'s rows where stored: the same operations on each result,
// side by side.
template <typename T>
void sum_each_result_in_vectors(const Problem<T>& p, const StridedMatrix<T>& b, size_t columns) {
  constexpr size_t lanes = small_lanes<T>;
  using V = simd::Vector<T, lanes>;
  const StridedMatrix<T> a = op_a(p);
  const Output<T> out = output(p);
  for (size_t i = 0; i < p.m; ++i) {
    T* c_row = out.c + i * out.row_stride;
    for (size_t first = 0; first < columns; first += lanes) {
      V sums{};
      for (size_t q = 0; q < p.k; ++q) {
        V b_q;
        std::memcpy(&b_q, &b.at(q, first), sizeof b_q);
        sums += a.at(i, q) * b_q;
      }
      for (size_t j = 0; j < lanes; ++j) store_sum(out, c_row[first + j], sums[j]);
    }
  }
}

// A small call (plan.hpp): no packing, no workspace, no kernel's set-up, which cost such calls
// more than their arithmetic (4 × 4 × 3 took 80 ns, OpenBLAS 40). Where op(B)'s rows are
// contiguous, whole vectors of a row's results run side by side (12 × 4 × 1 A^T: 71 -> 49 ns;
// vectors gathered from a transposed B lost to one result at a time). A packed B is read element by
// element, to the same bits.
template <typename T>
void run_small(const Problem<T>& p) {
  if (is_packed(p)) {
    return sum_each_result(
        p, 0, [&](size_t q, size_t j) { return packed_element(p.packed_b, p.k, q, j); });
  }
  const StridedMatrix<T> b = op_b(p);
  size_t in_vectors = 0;
  if (b.column_step == 1) {
    in_vectors = p.n / small_lanes<T> * small_lanes<T>;
    sum_each_result_in_vectors(p, b, in_vectors);
  }
  sum_each_result(p, in_vectors, [&](size_t q, size_t j) { return b.at(q, j); });
}

#define ZUM_INSTANTIATE(T)                                                       \
  template void run_small<T>(const Problem<T>&);                                 \
  template void run_stored_a<T>(const Problem<T>&, const PathKernels<T>&, bool); \
  template void run_stored<T>(const Problem<T>&, const PathKernels<T>&, bool);   \
  template void run_sweep<T>(const Problem<T>&, const PathKernels<T>&);          \
  template void run_columns<T>(const Problem<T>&, const PathKernels<T>&, bool);
ZUM_INSTANTIATE(float)
ZUM_INSTANTIATE(double)
#undef ZUM_INSTANTIATE

}  // namespace zum_runtime::gemm::driver
