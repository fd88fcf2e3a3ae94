#include <catch2/catch.hpp>

#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gemm/gemm.hpp"
#include "panic_capture.hpp"

namespace {

using namespace zum_runtime::gemm;
using std::size_t;
using zum_runtime::testing::panic_of;

struct Shape {
  size_t m, n, k;
  Transpose transpose_a = Transpose::no;
  Transpose transpose_b = Transpose::no;
};

std::string describe(const Shape& s) {
  return std::to_string(s.m) + " x " + std::to_string(s.n) + " x " + std::to_string(s.k) +
         (s.transpose_a == Transpose::yes ? " A^T" : "") +
         (s.transpose_b == Transpose::yes ? " B^T" : "");
}

// Operands of one shape, tightly stored, from a seed; C starts nonzero so beta counts.
template <typename T>
struct Operands {
  Shape s;
  std::vector<T> a, b, c;

  explicit Operands(const Shape& shape, unsigned seed = 7)
      : s(shape), a(shape.m * shape.k), b(shape.k * shape.n), c(shape.m * shape.n) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<T> value(T(-1), T(1));
    for (auto* matrix : {&a, &b, &c}) {
      for (T& x : *matrix) x = value(generator);
    }
  }
  size_t lda() const { return s.transpose_a == Transpose::no ? s.k : s.m; }
  size_t ldb() const { return s.transpose_b == Transpose::no ? s.n : s.k; }

  std::vector<T> one_shot(unsigned threads) const {
    std::vector<T> result = c;
    multiply<T>(s.transpose_a, s.transpose_b, s.m, s.n, s.k, T(0.75), a, lda(), b, ldb(), T(-0.5),
                result, s.n, Options{threads});
    return result;
  }
  std::vector<T> packed(const PackedB<T>& packed_b, unsigned threads) const {
    std::vector<T> result = c;
    multiply<T>(s.transpose_a, s.m, T(0.75), a, lda(), packed_b, T(-0.5), result, s.n,
                Options{threads});
    return result;
  }
};

template <typename T>
bool same_bits(const std::vector<T>& x, const std::vector<T>& y) {
  if (x.size() != y.size()) return false;
  return x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(T)) == 0;
}

// Every way of running, split by rows and by columns, across block edges (256 rows, columns and
// steps of k; 128 rows for double), with enough work for three threads.
const std::vector<Shape> threaded_shapes{
    {300, 290, 270},
    {270, 300, 90, Transpose::yes, Transpose::yes},
    {40, 700, 300},                   // split by columns
    {1000, 20, 400, Transpose::yes},  // op(A) where stored, by rows
    {1000, 10, 700},                  // the narrow tile
    {5, 1000, 1300},                  // B swept, by columns
    {8, 900, 1000},                   // both where stored
    {600, 100, 100, Transpose::no, Transpose::yes},
    {4000, 3, 700},                                 // few columns, along k, over three slabs
    {3000, 4, 600, Transpose::yes},                 // few columns, down the rows
    {5000, 1, 1000, Transpose::no, Transpose::yes}  // one column
};

}  // namespace

TEMPLATE_TEST_CASE("gemm threads: C is bit-identical for 1, 2, 3 and all cores", "", float,
                   double) {
  using T = TestType;
  for (const Shape& shape : threaded_shapes) {
    INFO(describe(shape));
    const Operands<T> operands(shape);
    const std::vector<T> one_thread = operands.one_shot(1);
    REQUIRE(one_thread != operands.c);
    for (unsigned threads : {2u, 3u, 0u}) {
      INFO("threads " << threads);
      REQUIRE(same_bits(operands.one_shot(threads), one_thread));
    }
  }
}

TEMPLATE_TEST_CASE("gemm threads: the packed multiply matches the one-shot bit for bit", "", float,
                   double) {
  using T = TestType;
  std::vector<Shape> shapes = threaded_shapes;
  for (const Shape& small : {Shape{3, 40, 20},
                             Shape{9, 33, 17, Transpose::yes, Transpose::yes},
                             Shape{64, 64, 64},
                             Shape{1, 1, 1},
                             Shape{0, 5, 5},
                             Shape{4, 7, 0},
                             Shape{4, 4, 3},
                             Shape{5, 3, 2, Transpose::yes, Transpose::yes},
                             Shape{20, 40, 5, Transpose::no, Transpose::yes},
                             Shape{200, 12, 3, Transpose::yes, Transpose::yes},
                             Shape{7, 45, 30},
                             Shape{1, 16, 5},
                             Shape{2, 8, 20},
                             Shape{3, 3, 8},
                             Shape{18, 2, 6, Transpose::no, Transpose::yes},
                             Shape{2, 17, 40, Transpose::no, Transpose::yes},
                             Shape{7, 22, 90, Transpose::no, Transpose::yes},
                             Shape{100, 18, 40},
                             Shape{130, 66, 20, Transpose::yes, Transpose::no},
                             Shape{90, 145, 100, Transpose::no, Transpose::yes}}) {
    shapes.push_back(small);
  }
  for (const Shape& shape : shapes) {
    INFO(describe(shape));
    const Operands<T> operands(shape);
    const PackedB<T> packed_b =
        pack_b<T>(shape.transpose_b, shape.k, shape.n, operands.b, operands.ldb());
    REQUIRE(packed_b.k() == shape.k);
    REQUIRE(packed_b.n() == shape.n);
    for (unsigned threads : {1u, 2u}) {
      REQUIRE(same_bits(operands.packed(packed_b, threads), operands.one_shot(threads)));
    }
  }
}

TEMPLATE_TEST_CASE("gemm threads: a one-deep transposed B, its elements apart, runs as its row", "",
                   float, double) {
  using T = TestType;
  const size_t n = 300, stride = 3;
  for (size_t m : {size_t{1}, size_t{12}, size_t{40}}) {
    INFO(m << " x " << n << " x 1 B^T, B's rows " << stride << " apart");
    const Operands<T> operands({m, n, 1});
    std::vector<T> b_apart(n * stride, std::numeric_limits<T>::quiet_NaN());
    for (size_t j = 0; j < n; ++j) b_apart[j * stride] = operands.b[j];
    const PackedB<T> packed_b = pack_b<T>(Transpose::yes, 1, n, b_apart, stride);
    for (unsigned threads : {1u, 2u}) {
      std::vector<T> result = operands.c;
      multiply<T>(Transpose::no, Transpose::yes, m, n, 1, T(0.75), operands.a, 1, b_apart, stride,
                  T(-0.5), result, n, Options{threads});
      // The same numbers as the untransposed row, and as the packed B.
      REQUIRE(same_bits(result, operands.one_shot(1)));
      REQUIRE(same_bits(result, operands.packed(packed_b, threads)));
    }
  }
}

TEST_CASE("gemm threads: a packed B holds its padded panels, and owns them alone") {
  const Operands<float> operands({16, 1024, 1024});
  PackedB<float> packed_b = pack_b<float>(Transpose::no, 1024, 1024, operands.b, 1024);
  REQUIRE(packed_b.bytes() >= 1024 * 1024 * sizeof(float));
  REQUIRE(packed_b.bytes() <= 1040 * 1056 * sizeof(float));
  const std::vector<float> before = operands.packed(packed_b, 1);
  PackedB<float> moved = std::move(packed_b);
  REQUIRE(same_bits(operands.packed(moved, 1), before));
  REQUIRE(packed_b.bytes() == 0);
  std::vector<float> c(16 * 1024, 1.0f);
  const auto report = panic_of(
      [&] { multiply<float>(Transpose::no, 16, 1.0f, operands.a, 1024, packed_b, 0.0f, c, 1024); });
  REQUIRE(report.has_value());
  REQUIRE(report->message == "gemm 16 x 1024 x 1024: the packed b was moved from");
  REQUIRE(c == std::vector<float>(16 * 1024, 1.0f));
}

TEST_CASE("gemm threads: pack_b refuses bad input before packing, naming k x n") {
  const std::vector<float> b(32 * 20, 1.0f);
  struct Refusal {
    Transpose transpose;
    size_t k, n, stride, size;
    std::string message;
  };
  for (const Refusal& r : {
           Refusal{Transpose::no, 16, 32, 31, 640,
                   "gemm pack_b 16 x 32: b_row_stride 31 is less than its 32 columns"},
           Refusal{Transpose::yes, 16, 32, 15, 640,
                   "gemm pack_b 16 x 32: b_row_stride 15 is less than its 16 columns"},
           Refusal{Transpose::no, 20, 32, 32, 639,
                   "gemm pack_b 20 x 32: b holds 639 elements, fewer than the 640 its 20 x 32 "
                   "elements with row stride 32 need"},
       }) {
    const auto report = panic_of(
        [&] { pack_b<float>(r.transpose, r.k, r.n, std::span(b).first(r.size), r.stride); });
    REQUIRE(report.has_value());
    REQUIRE(report->message == r.message);
  }
}

TEST_CASE("gemm threads: concurrent calls from four threads each get their own answer") {
  std::vector<Operands<float>> problems;
  std::vector<std::vector<float>> expected;
  for (unsigned seed = 0; seed < 4; ++seed) {
    problems.emplace_back(Shape{200 + 10 * seed, 150, 120}, seed);
    expected.push_back(problems.back().one_shot(1));
  }
  const PackedB<float> shared_b = pack_b<float>(Transpose::no, 120, 150, problems[0].b, 150);
  const std::vector<float> shared_expected = problems[0].packed(shared_b, 1);
  std::vector<int> agreed(4, 0);
  {
    std::vector<std::jthread> callers;
    for (size_t caller = 0; caller < 4; ++caller) {
      callers.emplace_back([&, caller] {
        for (int round = 0; round < 3; ++round) {
          const bool own = same_bits(problems[caller].one_shot(2), expected[caller]);
          const bool shared = same_bits(problems[0].packed(shared_b, 2), shared_expected);
          agreed[caller] += own && shared ? 1 : 0;
        }
      });
    }
  }
  REQUIRE(agreed == std::vector<int>(4, 3));
}
