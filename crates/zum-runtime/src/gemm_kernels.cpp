#include "gemm_kernels.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>
#include <vector>

#include "pair_interleave.hpp"
#include "simd_vectors.hpp"

namespace zum_runtime::gemm::kernels {
namespace {

using blocked_data::kernels::Vector;
using blocked_data::pair_interleave::column_of_stored;

// Lambdas the kernels call are inlined too, so they compile for the path that calls them.
#define ZUM_INLINE_LAMBDA __attribute__((always_inline))

template <typename V>
ZUM_KERNEL V load(const void* from) {
  V value;
  std::memcpy(&value, from, sizeof value);
  return value;
}

template <typename V>
ZUM_KERNEL void store(void* to, V value) {
  std::memcpy(to, &value, sizeof value);
}

template <typename V, typename T, size_t... lane>
ZUM_KERNEL V broadcast(T value, std::index_sequence<lane...>) {
  return V{(static_cast<void>(lane), value)...};
}

// Every lane `value`: one broadcast instruction.
template <typename V, typename T>
ZUM_KERNEL V broadcast(T value) {
  return broadcast<V>(value, std::make_index_sequence<sizeof(V) / sizeof(T)>{});
}

// op(A) as family B channels: in k group g, stored channel s holds column
// g * 16 + column_of_stored[s], its mr rows contiguous; groups lie group_stride apart.
template <typename T, size_t mr>
struct ChannelPanel {
  static constexpr bool interleaved = true;
  const T* panel;
  size_t group_stride;

  ZUM_KERNEL T at(size_t row, size_t group, size_t channel) const {
    return panel[group * group_stride + channel * mr + row];
  }
};

// An untransposed op(A) where it is stored, k in its own order: each row of the pass through a
// pointer of its own.
template <typename T, size_t rows>
struct StoredRowsOfA {
  static constexpr bool interleaved = false;
  const T* row_start[rows];

  ZUM_KERNEL explicit StoredRowsOfA(const StridedMatrix<T>& a) {
    for (size_t r = 0; r < rows; ++r) row_start[r] = &a.at(r, 0);
  }
  ZUM_KERNEL T at(size_t row, size_t group, size_t channel) const {
    return row_start[row][group * 16 + channel];
  }
};

// A transposed op(A) where it is stored: each column of op(A) is a stored row, so the pass's
// rows lie side by side.
template <typename T>
struct StoredColumnsOfA {
  static constexpr bool interleaved = false;
  const T* data;
  size_t column_stride;

  ZUM_KERNEL T at(size_t row, size_t group, size_t channel) const {
    return data[(group * 16 + channel) * column_stride + row];
  }
};

// op(B) as a family A panel: row p holds nr elements, contiguous.
template <typename T, size_t nr>
struct RowPanel {
  const T* panel;
  ZUM_KERNEL const T* row(size_t p) const { return panel + p * nr; }
};

// An untransposed op(B) where it is stored.
template <typename T>
struct StoredRows {
  const T* data;
  size_t row_stride;
  ZUM_KERNEL const T* row(size_t p) const { return data + p * row_stride; }
};

// The accumulators of one pass: `rows` × nr results, nr / lanes vectors a row. Too few
// independent chains cannot cover the FMA latency, so short tiles keep several copies that
// take turns over k and are summed at the end.
template <typename T, size_t lanes, size_t rows, size_t nr>
struct Accumulators {
  using V = Vector<T, lanes>;
  static constexpr size_t vectors = nr / lanes;
  static constexpr size_t chains = 8;
  static constexpr size_t copies = std::max<size_t>(1, chains / (rows * vectors));
  V sum[copies][rows][vectors];
};

// acc[r][v] += a(r, k) · b(k, v·lanes…) for one step of k.
template <typename T, size_t lanes, size_t rows, size_t vectors, typename A>
ZUM_KERNEL void step(Vector<T, lanes> (&acc)[rows][vectors], const A& a, size_t group,
                     size_t channel, const T* b_row) {
  using V = Vector<T, lanes>;
  V b[vectors];
#pragma GCC unroll 4
  for (size_t v = 0; v < vectors; ++v) b[v] = load<V>(b_row + v * lanes);
#pragma GCC unroll 16
  for (size_t r = 0; r < rows; ++r) {
    const V a_r = broadcast<V>(a.at(r, group, channel));
#pragma GCC unroll 4
    for (size_t v = 0; v < vectors; ++v) acc[r][v] += a_r * b[v];
  }
}

// C ← alpha · acc + beta · C for the part of the tile inside the output.
template <typename T, size_t lanes, size_t rows, size_t vectors>
ZUM_KERNEL void store_tile(const Vector<T, lanes> (&acc)[rows][vectors], const Output<T>& out) {
  using V = Vector<T, lanes>;
  constexpr size_t nr = vectors * lanes;
  if (out.rows >= rows && out.columns >= nr) {
    const V alpha = broadcast<V>(out.alpha);
    const V beta = broadcast<V>(out.beta);
    for (size_t r = 0; r < rows; ++r) {
      T* c_row = out.c + r * out.row_stride;
      for (size_t v = 0; v < vectors; ++v) {
        V result = alpha * acc[r][v];
        if (out.beta != T{0}) result += beta * load<V>(c_row + v * lanes);
        store(c_row + v * lanes, result);
      }
    }
    return;
  }
  T tile[rows][nr];
  std::memcpy(tile, acc, sizeof tile);
  for (size_t r = 0; r < std::min(rows, out.rows); ++r) {
    T* c_row = out.c + r * out.row_stride;
    for (size_t j = 0; j < std::min(nr, out.columns); ++j) {
      const T product = out.alpha * tile[r][j];
      c_row[j] = out.beta != T{0} ? product + out.beta * c_row[j] : product;
    }
  }
}

// One pass: `rows` × nr results over `depth` steps of k. Interleaved channels are read in
// stored order, and B's rows in the same order; a depth that is not a whole number of groups
// only occurs for op(A) read where stored.
template <typename T, size_t lanes, size_t rows, size_t nr, typename A, typename B>
ZUM_KERNEL void multiply_tile(const A& a, const B& b, size_t depth, const Output<T>& out) {
  using Acc = Accumulators<T, lanes, rows, nr>;
  Acc acc{};
  const size_t groups = depth / 16;
  for (size_t group = 0; group < groups; ++group) {
#pragma GCC unroll 16
    for (size_t channel = 0; channel < 16; ++channel) {
      const size_t column = A::interleaved ? column_of_stored[channel] : channel;
      step<T, lanes>(acc.sum[channel % Acc::copies], a, group, channel,
                     b.row(group * 16 + column));
    }
  }
  for (size_t channel = 0; channel < depth % 16; ++channel) {
    step<T, lanes>(acc.sum[0], a, groups, channel, b.row(groups * 16 + channel));
  }
  for (size_t copy = 1; copy < Acc::copies; ++copy) {
    for (size_t r = 0; r < rows; ++r) {
      for (size_t v = 0; v < Acc::vectors; ++v) acc.sum[0][r][v] += acc.sum[copy][r][v];
    }
  }
  store_tile<T, lanes>(acc.sum[0], out);
}

// Rows of op(A) read where stored come in chunks of `pass_rows`, then a tail in descending
// powers of two, so no pass reads a row past the matrix.
template <size_t chunk, typename Pass>
ZUM_KERNEL void for_each_tail_chunk(size_t rows, size_t row, Pass& pass) {
  if constexpr (chunk >= 1) {
    if (rows - row >= chunk) {
      pass.template operator()<chunk>(row);
      row += chunk;
    }
    for_each_tail_chunk<chunk / 2>(rows, row, pass);
  }
}

template <size_t pass_rows, typename Pass>
ZUM_KERNEL void for_each_row_chunk(size_t rows, Pass pass) {
  static_assert(std::has_single_bit(pass_rows), "tails are made of powers of two");
  size_t row = 0;
  for (; row + pass_rows <= rows; row += pass_rows) pass.template operator()<pass_rows>(row);
  for_each_tail_chunk<pass_rows / 2>(rows, row, pass);
}

// The loops around the micro-kernel for each kind of operand, for one tile shape.
template <typename T, size_t lanes, size_t mr, size_t nr, size_t pass_rows>
struct Loops {
  // A pass over op(A) where it is stored, untransposed or transposed.
  template <size_t rows, typename B>
  ZUM_KERNEL static void multiply_stored_tile(const StridedMatrix<T>& a, const B& b, size_t depth,
                                              const Output<T>& out) {
    if (a.column_step == 1) {
      multiply_tile<T, lanes, rows, nr>(StoredRowsOfA<T, rows>(a), b, depth, out);
    } else {
      const StoredColumnsOfA<T> columns{a.data, a.column_step};
      multiply_tile<T, lanes, rows, nr>(columns, b, depth, out);
    }
  }

  // Each 8-row channel panel stays in L1 while the B block's panels stream past it from L2.
  ZUM_KERNEL static void packed(const T* a_block, const T* b_block, size_t depth, Output<T> out) {
    const size_t row_groups = (out.rows + mr - 1) / mr;
    const size_t group_stride = row_groups * mr * 16;
    for (size_t group = 0; group < row_groups; ++group) {
      for (size_t column = 0; column < out.columns; column += nr) {
        const RowPanel<T, nr> b{b_block + column * depth};
        for (size_t pass = 0; pass < mr && group * mr + pass < out.rows; pass += pass_rows) {
          const ChannelPanel<T, mr> a{a_block + group * mr * 16 + pass, group_stride};
          multiply_tile<T, lanes, pass_rows, nr>(a, b, depth, out.offset(group * mr + pass, column));
        }
      }
    }
  }

  // Each B panel stays in cache while op(A)'s rows stream past it.
  ZUM_KERNEL static void stored_a(StridedMatrix<T> a, const T* b_block, size_t depth, size_t b_depth,
                       Output<T> out) {
    for (size_t column = 0; column < out.columns; column += nr) {
      const RowPanel<T, nr> b{b_block + column * b_depth};
      for_each_row_chunk<pass_rows>(out.rows, [&]<size_t rows>(size_t row) ZUM_INLINE_LAMBDA {
        multiply_stored_tile<rows>(a.offset(row, 0), b, depth, out.offset(row, column));
      });
    }
  }

  ZUM_KERNEL static void stored(StridedMatrix<T> a, StridedMatrix<T> b, size_t depth, Output<T> out) {
    for (size_t column = 0; column < out.columns; column += nr) {
      const StoredRows<T> b_rows{b.data + column, b.row_step};
      for_each_row_chunk<pass_rows>(out.rows, [&]<size_t rows>(size_t row) ZUM_INLINE_LAMBDA {
        multiply_stored_tile<rows>(a.offset(row, 0), b_rows, depth, out.offset(row, column));
      });
    }
  }
};

// Rows of op(A) against an untransposed op(B) swept a few of its rows at a time, each row of C
// accumulating in place, so B streams through once in its stored order: for one or two rows
// of A there is nothing to reuse, and the stream is the whole cost. C holds beta · C already.
template <typename T, size_t lanes>
struct Sweep {
  using V = Vector<T, lanes>;
  static constexpr size_t step = 4;  // rows of B a pass

  ZUM_KERNEL static void run(const StridedMatrix<T>& a, const StridedMatrix<T>& b, size_t depth,
                             const Output<T>& out) {
    size_t row = 0;
    for (; row + 2 <= out.rows; row += 2) rows<2>(a.offset(row, 0), b, depth, out.offset(row, 0));
    if (row < out.rows) rows<1>(a.offset(row, 0), b, depth, out.offset(row, 0));
  }

  template <size_t count>
  ZUM_KERNEL static void rows(const StridedMatrix<T>& a, const StridedMatrix<T>& b, size_t depth,
                              const Output<T>& out) {
    size_t p = 0;
    for (; p + step <= depth; p += step) pass<count, step>(a, b, p, out);
    for (; p < depth; ++p) pass<count, 1>(a, b, p, out);
  }

  // c(i, j) += Σ_q alpha · a(i, p + q) · b(p + q, j), one q after another.
  template <size_t count, size_t steps>
  ZUM_KERNEL static void pass(const StridedMatrix<T>& a, const StridedMatrix<T>& b, size_t p,
                              const Output<T>& out) {
    T scaled[count][steps];
    V scaled_vector[count][steps];
    const T* b_rows[steps];
    for (size_t q = 0; q < steps; ++q) {
      b_rows[q] = &b.at(p + q, 0);
      for (size_t i = 0; i < count; ++i) {
        scaled[i][q] = out.alpha * a.at(i, p + q);
        scaled_vector[i][q] = broadcast<V>(scaled[i][q]);
      }
    }
    size_t j = 0;
#pragma GCC unroll 2
    for (; j + lanes <= out.columns; j += lanes) {
      V b_vector[steps];
      for (size_t q = 0; q < steps; ++q) b_vector[q] = load<V>(b_rows[q] + j);
      for (size_t i = 0; i < count; ++i) {
        T* c = out.c + i * out.row_stride + j;
        V sum = load<V>(c);
        for (size_t q = 0; q < steps; ++q) sum += scaled_vector[i][q] * b_vector[q];
        store(c, sum);
      }
    }
    for (; j < out.columns; ++j) {
      for (size_t i = 0; i < count; ++i) {
        T& c = out.c[i * out.row_stride + j];
        for (size_t q = 0; q < steps; ++q) c += scaled[i][q] * b_rows[q][j];
      }
    }
  }
};

// A path's kernels: its tiles, compiled for its instruction set.
#define ZUM_GEMM_PATH(Name, target_attribute)                                                \
  template <typename T, size_t lanes, Tile wide_tile, Tile narrow_tile>                     \
  struct Name {                                                                              \
    using Wide = Loops<T, lanes, wide_tile.mr, wide_tile.nr, wide_tile.pass_rows>;           \
    using Narrow = Loops<T, lanes, narrow_tile.mr, narrow_tile.nr, narrow_tile.pass_rows>;   \
    target_attribute static void packed(const T* a, const T* b, size_t depth, Output<T> o) { \
      Wide::packed(a, b, depth, o);                                                          \
    }                                                                                        \
    target_attribute static void stored_a_wide(StridedMatrix<T> a, const T* b, size_t depth, \
                                               size_t b_depth, Output<T> o) {                \
      Wide::stored_a(a, b, depth, b_depth, o);                                               \
    }                                                                                        \
    target_attribute static void stored_a_narrow(StridedMatrix<T> a, const T* b,             \
                                                 size_t depth, size_t b_depth, Output<T> o) { \
      Narrow::stored_a(a, b, depth, b_depth, o);                                             \
    }                                                                                        \
    target_attribute static void stored(StridedMatrix<T> a, StridedMatrix<T> b, size_t depth, \
                                        Output<T> o) {                                       \
      Wide::stored(a, b, depth, o);                                                          \
    }                                                                                        \
    target_attribute static void sweep(StridedMatrix<T> a, StridedMatrix<T> b, size_t depth,  \
                                       Output<T> o) {                                        \
      Sweep<T, lanes>::run(a, b, depth, o);                                                  \
    }                                                                                        \
    static constexpr PathKernels<T> kernels{wide_tile,        narrow_tile, &packed,          \
                                            &stored_a_wide,   &stored_a_narrow, &stored,     \
                                            &sweep};                                         \
  };

ZUM_GEMM_PATH(Portable, )
ZUM_GEMM_PATH(Avx2, [[gnu::target("avx2,fma")]])
ZUM_GEMM_PATH(Avx512, [[gnu::target("avx512f,avx512bw,avx512vl,avx512dq,fma")]])
#undef ZUM_GEMM_PATH

constexpr Tile tile(size_t mr, size_t nr, size_t pass_rows) {
  const BlockLayout b_layout = nr == 8    ? BlockLayout::KivA8
                               : nr == 16 ? BlockLayout::KivA16
                                          : BlockLayout::KivA32;
  const BlockLayout a_layout = mr == 8 ? BlockLayout::KivB8x16 : BlockLayout::KivB16x16;
  return {a_layout, b_layout, mr, nr, pass_rows};
}

// Which tiles each path runs. Wide: the packed kernel (mr × nr in passes). Narrow: op(A) read
// where stored against few columns of op(B); one vector of B a row and up to 16 rows a pass.
//                 path      element  lanes  wide             narrow
template <typename T>
constexpr std::array<PathKernels<T>, 3> kernels_by_path{};
template <>
constexpr std::array<PathKernels<float>, 3> kernels_by_path<float>{
    Portable<float, 4, tile(8, 8, 4), tile(8, 8, 4)>::kernels,
    Avx2<float, 8, tile(8, 16, 4), tile(8, 8, 8)>::kernels,
    Avx512<float, 16, tile(8, 32, 8), tile(16, 16, 16)>::kernels,
};
template <>
constexpr std::array<PathKernels<double>, 3> kernels_by_path<double>{
    Portable<double, 2, tile(8, 8, 2), tile(8, 8, 2)>::kernels,
    Avx2<double, 4, tile(8, 8, 4), tile(8, 8, 4)>::kernels,
    Avx512<double, 8, tile(8, 16, 8), tile(16, 8, 16)>::kernels,
};

bool processor_runs(SimdPath path) {
  __builtin_cpu_init();
  const auto& all = blocked_data::kernels::runnable_simd_paths();
  const bool listed = std::ranges::find(all, path) != all.end();
  return listed && (path == SimdPath::portable || __builtin_cpu_supports("fma"));
}

}  // namespace

std::span<const SimdPath> runnable_paths() {
  static const std::vector<SimdPath> paths = [] {
    std::vector<SimdPath> runnable;
    for (SimdPath path : {SimdPath::portable, SimdPath::avx2, SimdPath::avx512}) {
      if (processor_runs(path)) runnable.push_back(path);
    }
    return runnable;
  }();
  return paths;
}

template <typename T>
const PathKernels<T>& path_kernels(SimdPath path) {
  return kernels_by_path<T>[static_cast<size_t>(path)];
}

template <typename T>
void pack_channels(StridedMatrix<T> a, size_t rows, size_t depth, T* buffer) {
  constexpr size_t mr = 8;
  const size_t row_groups = (rows + mr - 1) / mr;
  for (size_t group = 0; group < round_up(depth, 16) / 16; ++group) {
    for (size_t row_group = 0; row_group < row_groups; ++row_group) {
      for (size_t channel = 0; channel < 16; ++channel) {
        const size_t column = group * 16 + column_of_stored[channel];
        for (size_t r = 0; r < mr; ++r) {
          const size_t row = row_group * mr + r;
          *buffer++ = row < rows && column < depth ? a.at(row, column) : T{0};
        }
      }
    }
  }
}

template <typename T>
void pack_rows(StridedMatrix<T> b, size_t depth, size_t columns, size_t nr, T* buffer) {
  const size_t padded_depth = round_up(depth, 16);
  for (size_t panel = 0; panel < columns; panel += nr) {
    const size_t width = std::min(nr, columns - panel);
    for (size_t p = 0; p < padded_depth; ++p) {
      for (size_t j = 0; j < nr; ++j) {
        *buffer++ = p < depth && j < width ? b.at(p, panel + j) : T{0};
      }
    }
  }
}

template const PathKernels<float>& path_kernels<float>(SimdPath);
template const PathKernels<double>& path_kernels<double>(SimdPath);
template void pack_channels<float>(StridedMatrix<float>, size_t, size_t, float*);
template void pack_channels<double>(StridedMatrix<double>, size_t, size_t, double*);
template void pack_rows<float>(StridedMatrix<float>, size_t, size_t, size_t, float*);
template void pack_rows<double>(StridedMatrix<double>, size_t, size_t, size_t, double*);

}  // namespace zum_runtime::gemm::kernels
