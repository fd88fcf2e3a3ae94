#include <catch2/catch.hpp>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "gemm/internal/kernel_table.hpp"
#include "gemm/internal/kernels/columns.hpp"
#include "gemm/internal/kernels/packed_tile.hpp"
#include "gemm/internal/kernels/stored_tile.hpp"
#include "gemm/internal/kernels/sweep.hpp"

// Every path's GEMM kernels held to their scalar definitions at the edges of their tiles: rows
// and columns one short of, equal to and past a pass and a panel, depths short of, equal to and
// past a group of 16.
namespace {

using namespace zum_runtime::gemm::kernels;
using std::size_t;

template <typename T>
std::vector<T> random_values(size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<T> value(T(-1), T(1));
  std::vector<T> values(count);
  for (T& x : values) x = value(generator);
  return values;
}

template <typename To, typename From>
std::vector<To> converted(const std::vector<From>& from, bool magnitudes) {
  std::vector<To> to(from.size());
  for (size_t i = 0; i < from.size(); ++i)
    to[i] = magnitudes ? std::fabs(To(from[i])) : To(from[i]);
  return to;
}

// One kernel call: a and b buffers, and C of rows × columns with a row stride three wider,
// whose gaps must stay as they were.
struct Shape {
  size_t a_elements;
  size_t b_elements;
  size_t rows;
  size_t columns;
  size_t depth;
};

// Runs `kernel` on T and `definition` on long double, exactly and on magnitudes, and compares
// each element of C within (depth + 2) · ε · (|alpha| Σ|a||b| + |beta c|). Returns the first
// failure. Both take (a, b, Output) over their element type.
template <typename T, typename Kernel, typename Definition>
std::string check(const Shape& shape, T beta, Kernel kernel, Definition definition) {
  const size_t stride = shape.columns + 3;
  const auto a = random_values<T>(shape.a_elements, 1);
  const auto b = random_values<T>(shape.b_elements, 2);
  const auto c = random_values<T>(shape.rows * stride, 3);
  const T alpha = T(0.75);
  std::vector<T> got = c;
  kernel(a.data(), b.data(), Output<T>{got.data(), stride, shape.rows, shape.columns, alpha, beta});
  auto run_definition = [&](bool magnitudes) {
    const auto a_wide = converted<long double>(a, magnitudes);
    const auto b_wide = converted<long double>(b, magnitudes);
    auto c_wide = converted<long double>(c, magnitudes);
    const long double alpha_wide = magnitudes ? std::fabs(alpha) : alpha;
    const long double beta_wide = magnitudes ? std::fabs(beta) : beta;
    definition(a_wide.data(), b_wide.data(),
               Output<long double>{c_wide.data(), stride, shape.rows, shape.columns, alpha_wide,
                                   beta_wide});
    return c_wide;
  };
  const auto exact = run_definition(false);
  const auto magnitude = run_definition(true);
  const long double epsilon = std::numeric_limits<T>::epsilon();
  for (size_t at = 0; at < got.size(); ++at) {
    const bool inside = at % stride < shape.columns;
    const long double bound = (long double)(shape.depth + 2) * epsilon * magnitude[at];
    if (inside ? !(std::fabs(got[at] - exact[at]) <= bound) : got[at] != c[at]) {
      return "c(" + std::to_string(at / stride) + ", " + std::to_string(at % stride) +
             ") = " + std::to_string((double)got[at]) + ", defined " +
             std::to_string((double)exact[at]);
    }
  }
  return "";
}

std::string describe(SimdPath path, const Shape& s) {
  return std::string(zum_runtime::simd::simd_path_name(path)) + ' ' + std::to_string(s.rows) +
         " x " + std::to_string(s.columns) + " x " + std::to_string(s.depth);
}

// Counts one short of, equal to and past each of the given sizes, and 1.
std::vector<size_t> around(std::initializer_list<size_t> sizes) {
  std::vector<size_t> counts{1};
  for (size_t size : sizes) {
    for (size_t count : {size - 1, size, size + 1}) {
      if (count > 1) counts.push_back(count);
    }
  }
  return counts;
}

TEMPLATE_TEST_CASE("every path's packed tile computes its definition", "[gemm][kernels]", float,
                   double) {
  using T = TestType;
  for (SimdPath path : runnable_paths()) {
    const PathKernels<T>& kernels = path_kernels<T>(path);
    const Tile tile = kernels.wide;
    for (size_t rows : around({tile.pass_rows, tile.mr, 2 * tile.mr})) {
      for (size_t columns : around({tile.nr, 2 * tile.nr})) {
        // The padding past depth holds values, not zeros: a kernel that reads it fails.
        for (size_t depth : around({16, 48})) {
          const size_t padded = round_up(depth, 16);
          const Shape shape{round_up(rows, tile.mr) * padded, round_up(columns, tile.nr) * padded,
                            rows, columns, depth};
          INFO(describe(path, shape));
          const auto kernel = [&](const T* a, const T* b, Output<T> out) {
            kernels.packed(a, b, depth, padded, out);
          };
          const auto definition = [&](auto a, auto b, auto out) {
            scalar::packed_tile(a, b, depth, padded, tile.mr, tile.nr, out);
          };
          REQUIRE(check<T>(shape, T(0.5), kernel, definition) == "");
          REQUIRE(check<T>(shape, T(0), kernel, definition) == "");
        }
      }
    }
  }
}

// op(A) stored rows × depth (untransposed) or depth × rows (transposed), rows three wider.
template <typename U>
StridedMatrix<U> stored_a(const U* data, bool transposed, size_t rows, size_t depth) {
  return transposed ? StridedMatrix<U>{data, 1, rows + 3} : StridedMatrix<U>{data, depth + 3, 1};
}

TEMPLATE_TEST_CASE("every path's stored tiles compute their definition", "[gemm][kernels]", float,
                   double) {
  using T = TestType;
  for (SimdPath path : runnable_paths()) {
    const PathKernels<T>& kernels = path_kernels<T>(path);
    for (const bool narrow : {false, true}) {
      const Tile tile = narrow ? kernels.narrow : kernels.wide;
      const auto multiply = narrow ? kernels.stored_a_narrow : kernels.stored_a_wide;
      for (const bool transposed : {false, true}) {
        for (size_t rows : around({2, 4, 8, 16})) {
          for (size_t columns : around({tile.nr})) {
            for (size_t depth : around({16, 32})) {
              const size_t b_depth = round_up(depth, 16);
              const Shape shape{(rows + 3) * (depth + 3), round_up(columns, tile.nr) * b_depth,
                                rows, columns, depth};
              INFO(describe(path, shape)
                   << (narrow ? " narrow" : " wide") << (transposed ? " A^T" : ""));
              const auto kernel = [&](const T* a, const T* b, Output<T> out) {
                multiply(stored_a(a, transposed, rows, depth), b, depth, b_depth, out);
              };
              const auto definition = [&](auto a, auto b, auto out) {
                scalar::stored_a_tile(stored_a(a, transposed, rows, depth), b, depth, b_depth,
                                      tile.nr, out);
              };
              REQUIRE(check<T>(shape, T(0.5), kernel, definition) == "");
            }
          }
        }
      }
    }
  }
}

// op(B) stored depth × columns, rows three wider.
template <typename U>
StridedMatrix<U> stored_b(const U* data, size_t columns) {
  return {data, columns + 3, 1};
}

TEMPLATE_TEST_CASE("every path's tile over both operands where stored computes its definition",
                   "[gemm][kernels]", float, double) {
  using T = TestType;
  for (SimdPath path : runnable_paths()) {
    const PathKernels<T>& kernels = path_kernels<T>(path);
    for (const bool narrow : {false, true}) {
      const auto multiply = narrow ? kernels.stored_narrow : kernels.stored;
      const size_t nr = narrow ? kernels.narrow.nr : kernels.wide.nr;
      for (const bool transposed : {false, true}) {
        for (size_t rows : around({8, 16})) {
          // The last panel partial, loaded masked: B's rows end where its columns do, as
          // the buffer does.
          for (size_t columns : around({5, nr, 2 * nr})) {
            for (size_t depth : around({16})) {
              const Shape shape{(rows + 3) * (depth + 3), depth * columns, rows, columns, depth};
              INFO(describe(path, shape)
                   << (narrow ? " narrow" : " wide") << (transposed ? " A^T" : ""));
              const auto kernel = [&](const T* a, const T* b, Output<T> out) {
                multiply(stored_a(a, transposed, rows, depth), {b, columns, 1}, depth, out);
              };
              const auto definition = [&](auto a, auto b, auto out) {
                using U = std::remove_cvref_t<decltype(*a)>;
                scalar::stored_tile(stored_a(a, transposed, rows, depth),
                                    StridedMatrix<U>{b, columns, 1}, depth, out);
              };
              REQUIRE(check<T>(shape, T(0), kernel, definition) == "");
              REQUIRE(check<T>(shape, T(0.5), kernel, definition) == "");
            }
          }
        }
      }
    }
  }
}

TEMPLATE_TEST_CASE("every path's sweep computes its definition", "[gemm][kernels]", float, double) {
  using T = TestType;
  for (SimdPath path : runnable_paths()) {
    const PathKernels<T>& kernels = path_kernels<T>(path);
    for (const bool transposed : {false, true}) {
      for (size_t rows : {size_t{1}, size_t{2}, size_t{3}, size_t{5}}) {
        for (size_t columns : around({4, 8, 16, 32})) {
          for (size_t depth : around({4, 8})) {
            const Shape shape{(rows + 3) * (depth + 3), depth * (columns + 3), rows, columns,
                              depth};
            INFO(describe(path, shape) << (transposed ? " A^T" : ""));
            const auto kernel = [&](const T* a, const T* b, Output<T> out) {
              kernels.sweep(stored_a(a, transposed, rows, depth), stored_b(b, columns), depth, out);
            };
            const auto definition = [&](auto a, auto b, auto out) {
              scalar::sweep(stored_a(a, transposed, rows, depth), stored_b(b, columns), depth, out);
            };
            // The sweep adds to C as it stands: its beta is 1.
            REQUIRE(check<T>(shape, T(1), kernel, definition) == "");
          }
        }
      }
    }
  }
}

TEMPLATE_TEST_CASE("every path's few-columns tiles compute their definition", "[gemm][kernels]",
                   float, double) {
  using T = TestType;
  for (SimdPath path : runnable_paths()) {
    const PathKernels<T>& kernels = path_kernels<T>(path);
    const size_t lanes = 64 / sizeof(T);  // at most; around it covers the narrower paths too
    for (const bool transposed : {false, true}) {
      // Row chunks of 1 to 8 rows along k, of 1 to 8 vectors down the rows, the last masked.
      for (size_t rows : around({2, 4, 8, lanes / 4, lanes, 2 * lanes, 4 * lanes, 8 * lanes})) {
        for (size_t columns = 1; columns <= max_few_columns; ++columns) {
          // Depths below a vector's lanes start in narrower vectors.
          for (size_t depth : around({2, lanes / 4, lanes / 2, lanes, 2 * lanes})) {
            // B's padding holds values, not the zeros the loops put there: a kernel that
            // multiplies past depth fails.
            const size_t stride = round_up(depth, 16);
            const Shape shape{(rows + 3) * (depth + 3), columns * stride, rows, columns, depth};
            INFO(describe(path, shape) << (transposed ? " A^T" : ""));
            const auto kernel = [&](const T* a, const T* b, Output<T> out) {
              kernels.few_columns(stored_a(a, transposed, rows, depth), b, depth, stride, out);
            };
            const auto definition = [&](auto a, auto b, auto out) {
              scalar::few_columns(stored_a(a, transposed, rows, depth), b, depth, stride, out);
            };
            REQUIRE(check<T>(shape, T(0.5), kernel, definition) == "");
            REQUIRE(check<T>(shape, T(0), kernel, definition) == "");
          }
        }
      }
    }
  }
}

}  // namespace
