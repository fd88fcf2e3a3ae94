#include <catch2/catch.hpp>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "blocked_data.hpp"
#include "gemm/gemm.hpp"
#include "gemm/internal/block_packing.hpp"
#include "gemm/internal/driver.hpp"
#include "gemm/internal/plan.hpp"
#include "panic_capture.hpp"

namespace {

using namespace zum_runtime::gemm;
using driver::Strategy;
using kernels::SimdPath;
using std::size_t;
using zum_runtime::testing::panic_of;

struct Case {
  Transpose transpose_a;
  Transpose transpose_b;
  size_t m;
  size_t n;
  size_t k;
};

std::string describe(const Case& c) {
  return std::to_string(c.m) + " x " + std::to_string(c.n) + " x " + std::to_string(c.k) +
         (c.transpose_a == Transpose::yes ? " A^T" : "") +
         (c.transpose_b == Transpose::yes ? " B^T" : "");
}

// Stored rows and columns of op(X)'s matrix, with its row stride `gap` (three unless a test
// says) wider than its columns.
struct Stored {
  size_t rows;
  size_t columns;
  size_t gap = 3;
  size_t stride() const { return columns + gap; }
  size_t elements() const { return rows * stride(); }
};

Stored stored(Transpose transpose, size_t rows, size_t columns, size_t gap) {
  return transpose == Transpose::no ? Stored{rows, columns, gap} : Stored{columns, rows, gap};
}

// A, B and C for one case, filled from a seeded generator; C's gaps hold `gap`.
template <typename T>
struct Operands {
  Case shape;
  Stored a_shape, b_shape, c_shape;
  std::vector<T> a, b, c;
  static constexpr T gap = T(-12345);

  explicit Operands(const Case& s, unsigned seed = 1, size_t stride_gap = 3)
      : shape(s),
        a_shape(stored(s.transpose_a, s.m, s.k, stride_gap)),
        b_shape(stored(s.transpose_b, s.k, s.n, stride_gap)),
        c_shape{s.m, s.n, stride_gap},
        a(a_shape.elements()),
        b(b_shape.elements()),
        c(c_shape.elements(), gap) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<T> value(T(-1), T(1));
    for (T& x : a) x = value(generator);
    for (T& x : b) x = value(generator);
    for (size_t i = 0; i < s.m; ++i) {
      for (size_t j = 0; j < s.n; ++j) c[i * c_shape.stride() + j] = value(generator);
    }
  }

  T op_a(size_t i, size_t p) const {
    return shape.transpose_a == Transpose::no ? a[i * a_shape.stride() + p]
                                              : a[p * a_shape.stride() + i];
  }
  T op_b(size_t p, size_t j) const {
    return shape.transpose_b == Transpose::no ? b[p * b_shape.stride() + j]
                                              : b[j * b_shape.stride() + p];
  }

  driver::Problem<T> problem(T alpha, T beta) {
    return {shape.transpose_a,
            shape.transpose_b,
            shape.m,
            shape.n,
            shape.k,
            alpha,
            a,
            a_shape.stride(),
            b,
            b_shape.stride(),
            beta,
            c,
            c_shape.stride()};
  }
};

// Each element of C against a long double reference, within (k + 2) · ε · (|alpha| Σ|a||b| +
// |beta c|); every element outside the m × n result unchanged. Returns the first failure.
// The exact op(A)·op(B) of each element and the sum of its products' magnitudes, row by row:
// computed once per operands when many runs are checked against them.
using ExactProducts = std::vector<std::pair<long double, long double>>;
template <typename T>
ExactProducts exact_products(const Operands<T>& x) {
  ExactProducts products;
  for (size_t i = 0; i < x.shape.m; ++i) {
    for (size_t j = 0; j < x.shape.n; ++j) {
      long double exact = 0, magnitude = 0;
      for (size_t p = 0; p < x.shape.k; ++p) {
        const long double product = (long double)x.op_a(i, p) * x.op_b(p, j);
        exact += product;
        magnitude += std::fabs(product);
      }
      products.emplace_back(exact, magnitude);
    }
  }
  return products;
}

template <typename T>
std::string check_against_reference(const Operands<T>& before, const ExactProducts& products,
                                    const std::vector<T>& after, T alpha, T beta) {
  const Case& s = before.shape;
  const long double epsilon = std::numeric_limits<T>::epsilon();
  for (size_t i = 0; i < s.m; ++i) {
    for (size_t j = 0; j < s.n; ++j) {
      auto [exact, magnitude] = products[i * s.n + j];
      const size_t at = i * before.c_shape.stride() + j;
      const long double c_term = beta == T(0) ? 0.0L : (long double)beta * before.c[at];
      exact = alpha * exact + c_term;
      magnitude = std::fabs((long double)alpha) * magnitude + std::fabs(c_term);
      const long double bound = (long double)(s.k + 2) * epsilon * magnitude;
      if (!(std::fabs(after[at] - exact) <= bound)) {
        return describe(s) + ": c(" + std::to_string(i) + ", " + std::to_string(j) +
               ") = " + std::to_string((double)after[at]) + ", exact " +
               std::to_string((double)exact);
      }
    }
  }
  for (size_t at = 0; at < after.size(); ++at) {
    if (at % before.c_shape.stride() >= s.n && after[at] != Operands<T>::gap) {
      return describe(s) + ": wrote the gap at " + std::to_string(at);
    }
  }
  return "";
}

template <typename T>
std::string check_against_reference(const Operands<T>& before, const std::vector<T>& after, T alpha,
                                    T beta) {
  return check_against_reference(before, exact_products(before), after, alpha, beta);
}

// Runs the case's operands on `path` with `strategy` and checks them.
template <typename T>
std::string run_and_check(const Operands<T>& before, const ExactProducts& products, SimdPath path,
                          Strategy strategy, T alpha, T beta) {
  Operands<T> operands = before;
  const auto problem = operands.problem(alpha, beta);
  driver::validate(problem);
  driver::run(problem, path, strategy);
  return check_against_reference(before, products, operands.c, alpha, beta);
}
template <typename T>
std::string run_and_check(const Case& s, SimdPath path, Strategy strategy, T alpha, T beta) {
  const Operands<T> before(s);
  return run_and_check(before, exact_products(before), path, strategy, alpha, beta);
}

const std::vector<Transpose> both{Transpose::no, Transpose::yes};
const std::vector<Strategy> strategies{Strategy::chosen, Strategy::blocked, Strategy::stored_a,
                                       Strategy::stored, Strategy::sweep,   Strategy::columns,
                                       Strategy::small};

// Shapes crossing every tile edge (8, 16, 32 and the powers of two in between) and, in the
// last rows, every block edge: 256 rows (128 for double), 256 columns and 256 steps of k.
const std::vector<std::vector<size_t>> edge_shapes{
    {1, 1, 1},
    {2, 3, 7},
    {3, 2, 1},
    {7, 9, 8},
    {8, 8, 16},
    {9, 7, 17},
    {15, 17, 9},
    {16, 16, 15},
    {17, 15, 31},
    {31, 33, 16},
    {33, 31, 33},
    {1, 33, 40},
    {40, 1, 33},
    {33, 64, 2},
    {5, 100, 48},
    {100, 5, 48},
    {64, 31, 3},
    {19, 47, 65},
    {264, 40, 40},
    {136, 24, 20},
    {24, 264, 36},
    {24, 40, 272},
    // The few-columns tiles' edges: 1 to 9 columns, row chunks of 1 to 8 and of 1 to 8
    // vectors, k around the vectors' lanes.
    {40, 8, 33},
    {20, 9, 17},
    {35, 7, 2},
    {9, 4, 17},
    {17, 3, 8},
    {33, 2, 15},
    {129, 1, 33},
    {70, 5, 9},
    {3, 4, 1},
};

template <typename T>
void check_every_path_and_strategy() {
  for (const auto& dims : edge_shapes) {
    for (Transpose ta : both) {
      for (Transpose tb : both) {
        const Operands<T> before(Case{ta, tb, dims[0], dims[1], dims[2]});
        const ExactProducts products = exact_products(before);
        for (SimdPath path : kernels::runnable_paths()) {
          for (Strategy strategy : strategies) {
            INFO(zum_runtime::simd::simd_path_name(path) << " strategy " << int(strategy));
            const std::string failure =
                run_and_check<T>(before, products, path, strategy, T(1), T(0));
            REQUIRE(failure == "");
          }
        }
      }
    }
  }
}

template <typename T>
std::vector<T> filled(size_t elements, T value) {
  return std::vector<T>(elements, value);
}

}  // namespace

TEMPLATE_TEST_CASE("gemm: every path and strategy is within the error bound at every edge", "",
                   float, double) {
  check_every_path_and_strategy<TestType>();
}

// Rows one element apart make a one-row transposed operand a row, and C's one column
// contiguous: the ways that read or write them in vectors then.
TEMPLATE_TEST_CASE("gemm: tightly stored operands are within the error bound on every path", "",
                   float, double) {
  using T = TestType;
  const std::vector<std::vector<size_t>> shapes{{1, 1, 1},  {1, 40, 1}, {12, 48, 1}, {1, 30, 7},
                                                {16, 1, 5}, {17, 1, 3}, {111, 1, 9}, {300, 1, 20},
                                                {40, 3, 1}, {5, 17, 2}};
  for (const auto& dims : shapes) {
    for (Transpose ta : both) {
      for (Transpose tb : both) {
        const Operands<T> before(Case{ta, tb, dims[0], dims[1], dims[2]}, 2, 0);
        const ExactProducts products = exact_products(before);
        for (SimdPath path : kernels::runnable_paths()) {
          for (Strategy strategy : strategies) {
            INFO(zum_runtime::simd::simd_path_name(path) << " strategy " << int(strategy));
            REQUIRE(run_and_check<T>(before, products, path, strategy, T(0.75), T(-0.5)) == "");
          }
        }
      }
    }
  }
}

TEMPLATE_TEST_CASE("gemm: alpha and beta of 0, 1, -1 and 0.5 scale as BLAS does", "", float,
                   double) {
  using T = TestType;
  const std::vector<T> scalars{T(0), T(1), T(-1), T(0.5)};
  for (T alpha : scalars) {
    for (T beta : scalars) {
      for (Transpose ta : both) {
        for (Transpose tb : both) {
          for (const Case& s : {Case{ta, tb, 17, 33, 19}, Case{ta, tb, 0, 5, 5},
                                Case{ta, tb, 5, 0, 5}, Case{ta, tb, 9, 18, 0}}) {
            INFO("alpha " << alpha << " beta " << beta);
            REQUIRE(run_and_check<T>(s, kernels::runnable_paths().back(), Strategy::chosen, alpha,
                                     beta) == "");
          }
        }
      }
    }
  }
}

TEMPLATE_TEST_CASE("gemm: beta 0 never reads C, so NaN in C does not reach the result", "", float,
                   double) {
  using T = TestType;
  const T nan = std::numeric_limits<T>::quiet_NaN();
  for (SimdPath path : kernels::runnable_paths()) {
    for (Strategy strategy : strategies) {
      Operands<T> operands({Transpose::no, Transpose::no, 20, 37, 21});
      const Operands<T> before = operands;
      for (size_t i = 0; i < 20; ++i) {
        for (size_t j = 0; j < 37; ++j) operands.c[i * operands.c_shape.stride() + j] = nan;
      }
      driver::run(operands.problem(T(1), T(0)), path, strategy);
      REQUIRE(check_against_reference(before, operands.c, T(1), T(0)) == "");
    }
  }
}

TEMPLATE_TEST_CASE("gemm: alpha 0 or k 0 gives beta C without reading A or B", "", float, double) {
  using T = TestType;
  const T nan = std::numeric_limits<T>::quiet_NaN();
  for (const auto& [alpha, k, beta] :
       {std::tuple{T(0), size_t{9}, T(0.5)}, std::tuple{T(1), size_t{0}, T(-1)},
        std::tuple{T(0), size_t{9}, T(0)}}) {
    const std::vector<T> a = filled<T>(16 * 9, nan);
    const std::vector<T> b = filled<T>(9 * 16, nan);
    std::vector<T> c = filled<T>(16 * 16, T(2));
    multiply<T>(Transpose::no, Transpose::no, 16, 16, k, alpha, a, 9, b, 16, beta, c, 16);
    for (T x : c) REQUIRE(x == T(2) * beta);
  }
}

TEMPLATE_TEST_CASE("gemm: infinity and NaN in A and B propagate as IEEE arithmetic says", "", float,
                   double) {
  using T = TestType;
  const T infinity = std::numeric_limits<T>::infinity();
  for (SimdPath path : kernels::runnable_paths()) {
    for (Strategy strategy : strategies) {
      const size_t m = 12, n = 40, k = 20;
      std::vector<T> a = filled<T>(m * k, T(1));
      std::vector<T> b = filled<T>(k * n, T(1));
      std::vector<T> c = filled<T>(m * n, T(0));
      a[0 * k + 3] = infinity;                             // row 0: +inf · 1
      a[1 * k + 3] = std::numeric_limits<T>::quiet_NaN();  // row 1: NaN
      a[2 * k + 3] = infinity;                             // row 2: +inf − inf in column 5
      a[2 * k + 4] = -infinity;
      b[3 * n + 5] = T(1);
      const driver::Problem<T> problem{
          Transpose::no, Transpose::no, m, n, k, T(1), a, k, b, n, T(0), c, n};
      driver::run(problem, path, strategy);
      for (size_t j = 0; j < n; ++j) {
        REQUIRE(c[0 * n + j] == infinity);
        REQUIRE(std::isnan(c[1 * n + j]));
        REQUIRE(std::isnan(c[2 * n + j]));
        REQUIRE(c[3 * n + j] == T(k));
      }
    }
  }
}

TEST_CASE("gemm: bad input panics before writing, naming the shape") {
  struct Refusal {
    Transpose ta, tb;
    size_t m, n, k;
    size_t a_stride, b_stride, c_stride;
    size_t a_size, b_size, c_size;
    float alpha;
    std::string message;
  };
  constexpr size_t huge = std::numeric_limits<size_t>::max() / 2;
  const std::vector<Refusal> refusals{
      {Transpose::no, Transpose::no, 4, 5, 6, 5, 5, 5, 24, 30, 20, 1,
       "gemm 4 x 5 x 6: a_row_stride 5 is less than its 6 columns"},
      {Transpose::yes, Transpose::no, 4, 5, 6, 3, 5, 5, 24, 30, 20, 1,
       "gemm 4 x 5 x 6: a_row_stride 3 is less than its 4 columns"},
      {Transpose::no, Transpose::no, 4, 5, 6, 6, 4, 5, 24, 30, 20, 1,
       "gemm 4 x 5 x 6: b_row_stride 4 is less than its 5 columns"},
      {Transpose::no, Transpose::yes, 4, 5, 6, 6, 5, 5, 24, 30, 20, 1,
       "gemm 4 x 5 x 6: b_row_stride 5 is less than its 6 columns"},
      {Transpose::no, Transpose::no, 4, 5, 6, 6, 5, 4, 24, 30, 20, 1,
       "gemm 4 x 5 x 6: c_row_stride 4 is less than its 5 columns"},
      {Transpose::no, Transpose::no, 4, 5, 6, 6, 5, 5, 23, 30, 20, 1,
       "gemm 4 x 5 x 6: a holds 23 elements, fewer than the 24 its 4 x 6 elements with row "
       "stride 6 need"},
      {Transpose::no, Transpose::no, 4, 5, 6, 7, 5, 5, 24, 30, 20, 1,
       "gemm 4 x 5 x 6: a holds 24 elements, fewer than the 27 its 4 x 6 elements with row "
       "stride 7 need"},
      {Transpose::no, Transpose::yes, 4, 5, 6, 6, 6, 5, 24, 29, 20, 1,
       "gemm 4 x 5 x 6: b holds 29 elements, fewer than the 30 its 5 x 6 elements with row "
       "stride 6 need"},
      {Transpose::no, Transpose::no, 4, 5, 6, 6, 5, 5, 24, 30, 19, 0,
       "gemm 4 x 5 x 6: c holds 19 elements, fewer than the 20 its 4 x 5 elements with row "
       "stride 5 need"},
      {Transpose::no, Transpose::no, 3, 5, 6, huge, 5, 5, 24, 30, 20, 1,
       "gemm 3 x 5 x 6: a: 3 rows of stride " + std::to_string(huge) +
           " span more memory than exists"},
      {Transpose::no, Transpose::no, 4, 5, 6, 6, 5, huge / 2, 24, 30, 20, 1,
       "gemm 4 x 5 x 6: c: 4 rows of stride " + std::to_string(huge / 2) +
           " span more memory than exists"},
  };
  for (const Refusal& r : refusals) {
    INFO(r.message);
    const std::vector<float> a(r.a_size, 1.0f), b(r.b_size, 1.0f);
    std::vector<float> c(r.c_size, 7.0f);
    const auto report = panic_of([&] {
      multiply<float>(r.ta, r.tb, r.m, r.n, r.k, r.alpha, a, r.a_stride, b, r.b_stride, 1.0f, c,
                      r.c_stride);
    });
    REQUIRE(report.has_value());
    REQUIRE(report->message == r.message);
    REQUIRE(c == std::vector<float>(r.c_size, 7.0f));
  }
}

TEMPLATE_TEST_CASE("gemm: spans of exactly their matrices' extent are enough", "", float, double) {
  using T = TestType;
  for (Transpose ta : both) {
    for (Transpose tb : both) {
      const size_t m = 5, n = 6, k = 7, stride = 9;
      const Stored a_shape = stored(ta, m, k, 3), b_shape = stored(tb, k, n, 3);
      const std::vector<T> a((a_shape.rows - 1) * stride + a_shape.columns, T(1));
      const std::vector<T> b((b_shape.rows - 1) * stride + b_shape.columns, T(1));
      std::vector<T> c((m - 1) * stride + n, T(0));
      multiply<T>(ta, tb, m, n, k, T(1), a, stride, b, stride, T(0), c, stride);
      for (size_t i = 0; i < m; ++i) {
        for (size_t j = 0; j < n; ++j) REQUIRE(c[i * stride + j] == T(k));
      }
    }
  }
}

TEST_CASE("gemm: operands that are not read need no memory, and m or n of 0 touches nothing") {
  std::vector<float> c(6, 3.0f);
  // alpha 0: A and B may be empty.
  multiply<float>(Transpose::no, Transpose::no, 2, 3, 4, 0.0f, {}, 4, {}, 3, 2.0f, c, 3);
  REQUIRE(c == std::vector<float>(6, 6.0f));
  // n 0: nothing at all is needed.
  multiply<float>(Transpose::no, Transpose::no, 2, 0, 4, 1.0f, {}, 4, {}, 0, 0.0f, {}, 0);
  REQUIRE(c == std::vector<float>(6, 6.0f));
}

TEST_CASE("gemm: C overlapping what the call reads of A or B is refused, untouched") {
  std::vector<float> memory(400, 1.0f);
  const std::span<const float> all(memory);
  // C's rows sit in the gaps between A's rows: nothing shared, accepted.
  multiply<float>(Transpose::no, Transpose::no, 4, 4, 4, 1.0f, all.subspan(0, 100), 8,
                  all.subspan(200), 4, 0.0f, std::span(memory).subspan(4, 100), 8);
  for (size_t row = 0; row < 4; ++row) REQUIRE(memory[4 + row * 8] == 4.0f);
  // C right after A's last row, where A's next row would begin if it had one: accepted.
  multiply<float>(Transpose::no, Transpose::no, 4, 4, 4, 1.0f, all.subspan(100, 28), 8,
                  all.subspan(200, 16), 4, 0.0f, std::span(memory).subspan(128, 16), 4);
  REQUIRE(memory[128] == 4.0f);
  struct Overlap {
    size_t a_start, c_start, c_stride;
    std::string message;
  };
  for (const Overlap& o : {Overlap{0, 3, 8, "c overlaps a"}, Overlap{0, 27, 8, "c overlaps a"},
                           Overlap{0, 200, 4, "c overlaps b"}, Overlap{0, 212, 8, "c overlaps b"},
                           Overlap{100, 86, 6, "c overlaps a"}}) {
    std::fill(memory.begin(), memory.end(), 1.0f);
    const auto report = panic_of([&] {
      multiply<float>(Transpose::no, Transpose::no, 4, 4, 4, 1.0f, all.subspan(o.a_start, 28), 8,
                      all.subspan(200, 16), 4, 0.0f, std::span(memory).subspan(o.c_start, 28),
                      o.c_stride);
    });
    REQUIRE(report.has_value());
    REQUIRE(report->message == "gemm 4 x 4 x 4: " + o.message);
    REQUIRE(memory == std::vector<float>(400, 1.0f));
  }
}

TEMPLATE_TEST_CASE("gemm: op(A) packs into the KivB8x16 buffer the mapping describes", "", float,
                   double) {
  using zum_runtime::blocked_data::block_coordinates;
  using zum_runtime::blocked_data::BlockLayout;
  using T = TestType;
  for (Transpose transpose : both) {
    for (const auto& [rows, depth] :
         {std::pair<size_t, size_t>{8, 16}, {13, 35}, {1, 1}, {40, 64}, {16, 7}}) {
      const Operands<T> operands({transpose, Transpose::no, rows, 1, depth});
      const Stored a = operands.a_shape;
      const kernels::StridedMatrix<T> op_a =
          transpose == Transpose::no ? kernels::StridedMatrix<T>{operands.a.data(), a.stride(), 1}
                                     : kernels::StridedMatrix<T>{operands.a.data(), 1, a.stride()};
      const size_t padded_rows = kernels::round_up(rows, 8);
      const size_t padded_depth = kernels::round_up(depth, 16);
      std::vector<T> buffer(padded_rows * padded_depth, T(99));
      kernels::pack_channels(op_a, rows, depth, buffer.data());
      for (size_t position = 0; position < buffer.size(); ++position) {
        const auto [row, column] = block_coordinates(
            BlockLayout::KivB8x16, static_cast<std::uint16_t>(padded_rows),
            static_cast<std::uint16_t>(padded_depth), static_cast<std::uint16_t>(position));
        const T expected = row < rows && column < depth ? operands.op_a(row, column) : T(0);
        REQUIRE(buffer[position] == expected);
      }
    }
  }
}

TEMPLATE_TEST_CASE("gemm: op(B) packs into the family A buffer the mapping describes", "", float,
                   double) {
  using zum_runtime::blocked_data::block_coordinates;
  using zum_runtime::blocked_data::BlockLayout;
  using T = TestType;
  for (Transpose transpose : both) {
    for (const auto& [layout, nr] :
         {std::pair{BlockLayout::KivA8, size_t{8}}, std::pair{BlockLayout::KivA16, size_t{16}},
          std::pair{BlockLayout::KivA32, size_t{32}}}) {
      for (const auto& [depth, columns] :
           {std::pair<size_t, size_t>{16, 32}, {21, 37}, {1, 1}, {48, 8}, {64, 64}, {35, 70}}) {
        const Operands<T> operands({Transpose::no, transpose, 1, columns, depth});
        const Stored b = operands.b_shape;
        const kernels::StridedMatrix<T> op_b =
            transpose == Transpose::no
                ? kernels::StridedMatrix<T>{operands.b.data(), b.stride(), 1}
                : kernels::StridedMatrix<T>{operands.b.data(), 1, b.stride()};
        const size_t padded_depth = kernels::round_up(depth, 16);
        const auto check = [&](const std::vector<T>& buffer) {
          for (size_t position = 0; position < buffer.size(); ++position) {
            const auto [row, column] = block_coordinates(
                layout, static_cast<std::uint16_t>(padded_depth),
                static_cast<std::uint16_t>(columns), static_cast<std::uint16_t>(position));
            const T expected = row < depth && column < columns ? operands.op_b(row, column) : T(0);
            REQUIRE(buffer[position] == expected);
          }
        };
        const size_t elements = padded_depth * kernels::round_up(columns, nr);
        std::vector<T> buffer(elements, T(99));
        kernels::pack_rows(op_b, depth, columns, nr, buffer.data());
        check(buffer);
        // Each path packs in vectors: whole blocks or rows, and the edges.
        for (SimdPath path : kernels::runnable_paths()) {
          std::vector<T> packed(elements, T(99));
          kernels::path_kernels<T>(path).pack_panels(op_b, depth, columns, nr, packed.data());
          check(packed);
        }
      }
    }
  }
}

TEST_CASE("gemm: the few columns past a plan's last half-panel run in the few-columns tiles") {
  const Transpose no = Transpose::no, yes = Transpose::yes;
  const SimdPath path = kernels::runnable_paths().back();
  const auto& kernels = kernels::path_kernels<float>(path);
  const size_t half = kernels.wide.nr / 2;
  if (half < 8) return;  // the portable tiles keep their last columns
  const size_t deep = driver::dot_products_from(4, kernels);
  const struct {
    Case shape;
    size_t few;
  } cases[] = {
      {{yes, no, 200, half + 1, 8}, 1},        // down a transposed A's rows, at any depth
      {{yes, no, 200, 2 * half + 4, 8}, 4},    //
      {{yes, no, 200, half + 5, 8}, 0},        // more than the few-columns tiles take
      {{yes, no, 200, 2 * half, 8}, 0},        // none past the half-panels
      {{no, no, 200, half + 4, deep}, 4},      // dot products along a deep enough k
      {{no, no, 200, half + 4, deep - 1}, 0},  //
      {{no, yes, 200, half + 3, 300}, 3},      //
      {{yes, no, 200, 3, 8}, 0},               // the few columns are all of op(B)
  };
  for (const auto& [shape, few] : cases) {
    INFO(describe(shape));
    Operands<float> operands(shape);
    const auto problem = operands.problem(1.0f, 0.0f);
    for (const Strategy strategy : {Strategy::stored_a, Strategy::blocked}) {
      CHECK(driver::few_last_columns(problem, kernels, {strategy, false}) == few);
    }
    CHECK(driver::few_last_columns(problem, kernels, {Strategy::sweep, false}) == 0);
    CHECK(driver::few_last_columns(problem, kernels, {Strategy::stored_a, true}) == 0);
  }
}

TEST_CASE("gemm: each shape runs the way its measured switch points say") {
  const Transpose no = Transpose::no, yes = Transpose::yes;
  const SimdPath fastest = kernels::runnable_paths().back();
  // Where the AVX-512 path runs its vectors in halves, a few rows against a small B are read
  // where stored rather than swept.
  const bool halved =
      fastest == SimdPath::avx512 && zum_runtime::simd::processor_halves_512_bit_vectors();
  const std::string_view few_rows_small_b = halved ? "stored" : "sweep";
  const struct {
    Case shape;
    std::string_view way;
  } cases[] = {
      {{no, no, 4, 4, 4}, "small"},               // 64 multiply-adds, summed one by one
      {{yes, yes, 1, 1, 64}, "small"},            //
      {{no, no, 64, 1, 1}, "small"},              //
      {{no, yes, 1, 64, 1}, "small"},             //
      {{no, yes, 7, 4, 2}, "small"},              //
      {{no, yes, 8, 4, 2}, "columns"},            // from 8 rows against a transposed B
      {{no, no, 8, 4, 1}, "small"},               // its row's results in whole vectors
      {{no, no, 8, 3, 1}, "columns"},             // a column summed alone
      {{yes, yes, 8, 3, 1}, "columns"},           // (one deep, B^T is an untransposed row)
      {{no, no, 7, 3, 1}, "small"},               //
      {{no, no, 1, 16, 5}, "small"},              // few results of an untransposed B, in vectors
      {{no, no, 4, 4, 20}, "small"},              //
      {{no, no, 4, 4, 21}, "stored"},             // past the vectors' multiply-adds
      {{no, no, 3, 3, 8}, "small"},               // columns past the last vector, one by one
      {{no, no, 3, 3, 9}, "stored"},              //
      {{no, no, 1, 17, 4}, few_rows_small_b},     // past the results
      {{no, no, 1, 2, 32}, "small"},              //
      {{no, no, 1, 2, 33}, "columns"},            // past the depth
      {{no, yes, 1, 16, 5}, "columns"},           // a transposed B
      {{no, no, 1, 1, 65}, "columns"},            //
      {{no, no, 65, 1, 1}, "columns"},            //
      {{no, yes, 1, 65, 1}, "sweep"},             // a one-deep transposed B is the row it holds
      {{no, no, 1000, 4, 100}, "columns"},        // few columns
      {{no, no, 200, 1, 2}, "columns"},           //
      {{yes, no, 200, 4, 8}, "columns"},          // down the rows of a transposed A
      {{no, yes, 24, 4, 2}, "columns"},           // few rows against a transposed B's rows
      {{no, yes, 25, 4, 2}, "stored_a"},          //
      {{no, yes, 2, 17, 32}, "columns"},          // a few rows against a deep transposed B
      {{no, yes, 2, 17, 31}, "stored_a"},         //
      {{no, yes, 3, 17, 80}, "columns"},          //
      {{no, yes, 3, 17, 79}, "stored_a"},         //
      {{no, yes, 8, 40, 80}, "columns"},          //
      {{no, yes, 9, 40, 80}, "stored_a"},         //
      {{yes, yes, 2, 17, 100}, "stored_a"},       // a transposed A's rows lie apart
      {{yes, yes, 50, 1, 3}, "columns"},          //
      {{no, yes, 1, 300, 50}, "columns"},         // one row against a transposed B
      {{no, no, 1, 300, 50}, few_rows_small_b},   // one row against B where stored
      {{no, no, 3, 300, 50}, few_rows_small_b},   //
      {{no, no, 2, 1024, 16}, few_rows_small_b},  // B of 64 KiB
      {{no, no, 2, 1024, 17}, "sweep"},           // past it
      {{no, no, 3, 300, 1}, "sweep"},             // one deep
      {{no, no, 4, 300, 50}, "stored"},           // B in half the L2 against more rows
      {{no, no, 6, 1024, 1024}, "sweep"},         // B past it
      {{no, no, 7, 300, 50}, "stored"},           // past the swept rows
      {{no, no, 3, 17, 100}, few_rows_small_b},   // just past a narrow panel
      {{no, no, 6, 16, 100}, "stored"},           // few rows, all of n in one narrow panel
      {{no, no, 5, 7, 696}, "stored"},            //
      {{no, no, 1, 6, 179}, "stored"},            //
      {{no, no, 16, 10, 600}, "stored"},          //
      {{no, no, 128, 4, 20}, "stored"},           // few columns, shallow
      {{no, no, 129, 4, 20}, "stored_a"},         //
      {{no, no, 128, 16, 600}, "stored"},         // narrow
      {{no, no, 129, 6, 600}, "stored_a"},        //
      {{no, no, 8, 20, 50}, "stored"},            // few rows
      {{no, no, 16, 557, 700}, "stored"},         // rows up to 16, however deep
      {{no, no, 200, 256, 32}, "stored"},         // all of op(B) in half the L2
      {{no, no, 17, 512, 1024}, "blocked"},       // neither
      {{no, no, 200, 100, 4096}, "stored_a"},     // few columns, op(B) past the L2
      {{no, yes, 20, 20, 20}, "stored_a"},        // transposed B of few columns
      {{no, yes, 300, 300, 15}, "stored_a"},      // transposed B, shallower than a group of k
      {{no, yes, 300, 300, 16}, "blocked"},       //
      {{no, yes, 200, 256, 32}, "blocked"},       // transposed B of many
  };
  for (const auto& [shape, way] : cases) {
    INFO(describe(shape));
    Operands<float> operands(shape);
    const auto problem = operands.problem(1.0f, 0.0f);
    CHECK(driver::describe(problem, kernels::runnable_paths().back()).way == way);
  }
  // Few columns run as dot products from a measured depth, in a narrow panel before: sooner
  // where the AVX-512 path runs its vectors in halves.
  const size_t from_depth[3] = {halved ? 1u : 16u, halved ? 24u : 48u, halved ? 32u : 96u};
  for (const size_t n : {size_t{2}, size_t{3}, size_t{4}}) {
    const size_t from = from_depth[n - 2];
    CHECK(driver::dot_products_from(n, kernels::path_kernels<float>(fastest)) == from);
    for (const size_t depth : {from - 1, from}) {
      if (depth == 0) continue;
      INFO("200 x " << n << " x " << depth);
      Operands<float> operands({no, no, 200, n, depth});
      const auto way = driver::describe(operands.problem(1.0f, 0.0f), fastest).way;
      CHECK(way == (depth < from ? "stored_a" : "columns"));
    }
  }
  // A shallow transposed B is turned into rows, a deeper one packed into panels.
  for (const size_t depth : {size_t{5}, size_t{6}}) {
    INFO("20 x 20 x " << depth << " B^T");
    Operands<float> operands({no, yes, 20, 20, depth});
    const auto run =
        driver::describe(operands.problem(1.0f, 0.0f), kernels::runnable_paths().back());
    CHECK(run.way == "stored_a");
    CHECK((run.b_layout == "rows") == (depth == 5));
  }
  // Four rows sweep a B of 256 columns once it passes half the running core's L2.
  const size_t depth_at_half_l2 = driver::l2_cache_bytes() / 2 / (256 * sizeof(float));
  for (const auto& [depth, way] : {std::pair{depth_at_half_l2, std::string_view("stored")},
                                   std::pair{depth_at_half_l2 + 1, std::string_view("sweep")}}) {
    INFO("4 x 256 x " << depth);
    Operands<float> operands({no, no, 4, 256, depth});
    CHECK(driver::describe(operands.problem(1.0f, 0.0f), kernels::runnable_paths().back()).way ==
          way);
  }
}

TEST_CASE("gemm: a block of op(B) fills at most half the L2, in whole multiples of 64 columns") {
  const struct {
    size_t l2_bytes, float_columns, double_columns;
  } cases[] = {
      {size_t{8} << 20, 256, 256},
      {size_t{1} << 20, 256, 256},
      {size_t{512} << 10, 256, 128},
      {size_t{256} << 10, 128, 64},
      {size_t{192} << 10, 64, 64},
      {size_t{32} << 10, 64, 64},
      {0, 64, 64},
  };
  for (const auto& c : cases) {
    INFO("L2 " << c.l2_bytes);
    CHECK(driver::block_columns_for<float>(c.l2_bytes) == c.float_columns);
    CHECK(driver::block_columns_for<double>(c.l2_bytes) == c.double_columns);
  }
}
