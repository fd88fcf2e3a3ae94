#include <catch2/catch.hpp>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "gemm/gemm.hpp"
#include "gemm/internal/bf16_driver.hpp"
#include "gemm/internal/kernel_table.hpp"
#include "gemm/internal/kernels/bf16_dot_tile.hpp"
#include "gemm_cases.hpp"
#include "panic_capture.hpp"

namespace {

using namespace zum_runtime::gemm;
using driver::Bf16Path;
using driver::Bf16Problem;
using std::size_t;
using zum_runtime::bfloat16;
using zum_runtime::to_bfloat16;
using zum_runtime::to_float;
using zum_runtime::testing::panic_of;
namespace dot = kernels::bf16_dot;

// Every way the bfloat16 multiply can run here: widened on each float path, and the dot
// products where the processor has them.
std::vector<Bf16Path> gemm_paths() {
  std::vector<Bf16Path> paths;
  for (const auto path : kernels::runnable_paths()) paths.push_back({path, false});
  if (zum_runtime::simd::processor_has_bf16_dot_products())
    paths.push_back({kernels::SimdPath::avx512, true});
  return paths;
}

std::string name_of(Bf16Path path) {
  return std::string(zum_runtime::bf16::bf16_path_name(path));
}

// A bfloat16 with a random sign, exponent near 1 and all seven mantissa bits random: sums of
// products of these do not fit bfloat16, so a sum rounded to bfloat16 is caught.
bfloat16 random_bf16(std::mt19937& generator) {
  std::uniform_real_distribution<float> value(-2.0f, 2.0f);
  return to_bfloat16(value(generator));
}

using Case = zum_runtime::testing::GemmCase;
using zum_runtime::testing::describe;
using Stored = zum_runtime::testing::PaddedMatrix<5>;
constexpr auto stored = zum_runtime::testing::stored_as<5>;

constexpr float gap = -777.0f;

struct Operands {
  Case shape;
  Stored a_shape, b_shape, c_shape;
  std::vector<bfloat16> a, b;
  std::vector<float> c;

  explicit Operands(const Case& s, unsigned seed = 1)
      : shape(s),
        a_shape(stored(s.transpose_a, s.m, s.k)),
        b_shape(stored(s.transpose_b, s.k, s.n)),
        c_shape{s.m, s.n},
        a(a_shape.elements()),
        b(b_shape.elements()),
        c(c_shape.rows * c_shape.stride(), gap) {
    std::mt19937 generator(seed);
    for (bfloat16& x : a) x = random_bf16(generator);
    for (bfloat16& x : b) x = random_bf16(generator);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    for (size_t i = 0; i < s.m; ++i)
      for (size_t j = 0; j < s.n; ++j) c[i * c_shape.stride() + j] = value(generator);
  }

  float op_a(size_t i, size_t p) const {
    return to_float(shape.transpose_a == Transpose::no ? a[i * a_shape.stride() + p]
                                                       : a[p * a_shape.stride() + i]);
  }
  float op_b(size_t p, size_t j) const {
    return to_float(shape.transpose_b == Transpose::no ? b[p * b_shape.stride() + j]
                                                       : b[j * b_shape.stride() + p]);
  }

  Bf16Problem problem(float alpha, float beta, unsigned threads = 1) {
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
            c_shape.stride(),
            threads};
  }
};

// The exact op(A)·op(B) of every checked element (rows row_step apart) and the sum of its
// products' magnitudes: computed once per operands, shared by every path and scaling.
struct ExactDots {
  size_t row_step;
  std::vector<std::pair<long double, long double>> sum_and_magnitude;
};
ExactDots exact_dots(const Operands& x, size_t row_step = 1) {
  const Case& s = x.shape;
  ExactDots dots{row_step, {}};
  for (size_t i = 0; i < s.m; i += row_step) {
    for (size_t j = 0; j < s.n; ++j) {
      long double sum = 0, magnitude = 0;
      for (size_t p = 0; p < s.k; ++p) {
        const long double product = static_cast<long double>(x.op_a(i, p)) * x.op_b(p, j);
        sum += product;
        magnitude += std::fabs(product);
      }
      dots.sum_and_magnitude.emplace_back(sum, magnitude);
    }
  }
  return dots;
}

// How far each element of C lies from the exact result, as a fraction of the stated bound;
// every element past C's columns must still hold the gap.
double worst_error_fraction(const Operands& x, const ExactDots& dots,
                            const std::vector<float>& c_before, float alpha, float beta) {
  const Case& s = x.shape;
  double worst = 0;
  for (size_t i = 0; i < s.m; i += dots.row_step) {
    for (size_t j = 0; j < x.c_shape.stride(); ++j) {
      const size_t at = i * x.c_shape.stride() + j;
      if (j >= s.n) {
        if (x.c[at] != gap) return std::numeric_limits<double>::infinity();
        continue;
      }
      const auto [sum, magnitude] = dots.sum_and_magnitude[i / dots.row_step * s.n + j];
      const long double c = beta == 0.0f ? 0.0L : c_before[at];
      const long double exact = alpha * sum + beta * c;
      const long double k2 = static_cast<long double>(s.k + 2);
      const long double bound = k2 * std::numeric_limits<float>::epsilon() *
                                    (std::fabs(alpha) * magnitude + std::fabs(beta * c)) +
                                k2 * std::ldexp(1.0L, -126) * (1 + std::fabs(alpha));
      worst = std::max(worst, static_cast<double>(std::fabs(x.c[at] - exact) / bound));
    }
  }
  return worst;
}

std::vector<Case> edge_cases() {
  std::vector<Case> cases;
  const Transpose no = Transpose::no, yes = Transpose::yes;
  for (const auto& [ta, tb] : {std::pair{no, no}, {no, yes}, {yes, no}, {yes, yes}}) {
    for (const size_t m : {1u, 11u, 12u, 13u, 30u})
      for (const size_t n : {1u, 31u, 32u, 33u, 70u})
        for (const size_t k : {1u, 2u, 3u, 16u, 255u, 257u}) cases.push_back({ta, tb, m, n, k});
  }
  return cases;
}

}  // namespace

TEST_CASE("gemm bf16: every path lies within the bound on the bfloat16 values, at every edge",
          "[gemm][bfloat16]") {
  for (const Case& shape : edge_cases()) {
    const Operands operands(shape, static_cast<unsigned>(shape.m * 7 + shape.n * 3 + shape.k));
    const ExactDots dots = exact_dots(operands);
    for (const Bf16Path path : gemm_paths()) {
      for (const auto& [alpha, beta] :
           {std::pair{1.0f, 0.0f}, {-1.0f, 1.0f}, {0.5f, -1.0f}, {1.0f, 0.5f}}) {
        INFO(name_of(path) << ' ' << describe(shape) << " alpha " << alpha << " beta " << beta);
        Operands x = operands;
        driver::run_bf16(x.problem(alpha, beta), path);
        REQUIRE(worst_error_fraction(x, dots, operands.c, alpha, beta) <= 1.0);
      }
    }
  }
}

TEST_CASE("gemm bf16: blocks deeper and wider than one slab, and many row blocks, on every path",
          "[gemm][bfloat16]") {
  const Case shapes[] = {{Transpose::no, Transpose::no, 250, 270, 1100},
                         {Transpose::yes, Transpose::yes, 37, 530, 2051},
                         {Transpose::no, Transpose::no, 3, 1100, 2051},
                         {Transpose::no, Transpose::no, 30, 17, 1030}};
  for (const Case& shape : shapes) {
    const Operands operands(shape);
    const ExactDots dots = exact_dots(operands, 13);
    for (const Bf16Path path : gemm_paths()) {
      INFO(name_of(path) << ' ' << describe(shape));
      Operands x = operands;
      driver::run_bf16(x.problem(-0.5f, 1.0f), path);
      REQUIRE(worst_error_fraction(x, dots, operands.c, -0.5f, 1.0f) <= 1.0);
    }
  }
}

TEST_CASE("gemm bf16: the BLAS conventions hold on every path", "[gemm][bfloat16]") {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const Bf16Path path : gemm_paths()) {
    INFO(name_of(path));
    Operands x({Transpose::no, Transpose::no, 13, 33, 5});
    SECTION("beta 0 never reads C") {
      for (float& c : x.c) c = c == gap ? gap : nan;
      driver::run_bf16(x.problem(1.0f, 0.0f), path);
      for (const float c : x.c) REQUIRE(!std::isnan(c));
    }
    SECTION("alpha 0 scales C without reading A or B") {
      for (bfloat16& a : x.a) a = to_bfloat16(nan);
      const std::vector<float> before = x.c;
      driver::run_bf16(x.problem(0.0f, -2.0f), path);
      for (size_t at = 0; at < x.c.size(); ++at)
        REQUIRE(x.c[at] == (before[at] == gap ? gap : -2.0f * before[at]));
    }
    SECTION("k 0 and beta 0 zero C without reading A or B") {
      Operands empty({Transpose::no, Transpose::no, 13, 33, 0});
      for (float& c : empty.c) c = c == gap ? gap : nan;
      driver::run_bf16(empty.problem(1.0f, 0.0f), path);
      for (const float c : empty.c) REQUIRE((c == gap || c == 0.0f));
    }
    SECTION("NaN in A reaches its row of C") {
      x.a[2 * x.a_shape.stride() + 4] = to_bfloat16(nan);
      driver::run_bf16(x.problem(1.0f, 0.0f), path);
      REQUIRE(std::isnan(x.c[2 * x.c_shape.stride()]));
      REQUIRE(!std::isnan(x.c[3 * x.c_shape.stride()]));
    }
  }
}

TEST_CASE("gemm bf16: m or n zero writes nothing", "[gemm][bfloat16]") {
  for (const auto& [m, n] : {std::pair<size_t, size_t>{0, 5}, {5, 0}}) {
    std::vector<bfloat16> a(40, to_bfloat16(1.0f)), b(40, to_bfloat16(1.0f));
    std::vector<float> c(40, gap);
    multiply(Transpose::no, Transpose::no, m, n, 4, 1.0f, std::span<const bfloat16>(a), 4,
             std::span<const bfloat16>(b), 5, 0.0f, std::span<float>(c), 5);
    for (const float x : c) REQUIRE(x == gap);
  }
}

TEST_CASE("gemm bf16: refusals panic in the float form's words with C untouched",
          "[gemm][bfloat16]") {
  std::vector<bfloat16> a(64, to_bfloat16(1.0f)), b(64, to_bfloat16(1.0f));
  std::vector<float> c(64, gap);
  const auto call = [&](size_t lda, size_t a_size, size_t ldc, std::span<float> c_span) {
    return panic_of([&] {
      multiply(Transpose::no, Transpose::no, 4, 4, 4, 1.0f,
               std::span<const bfloat16>(a).first(a_size), lda, std::span<const bfloat16>(b), 4,
               0.0f, c_span, ldc);
    });
  };
  const struct {
    size_t lda, a_size, ldc;
    const char* message;
  } cases[] = {
      {3, 64, 4, "gemm 4 x 4 x 4: a_row_stride 3 is less than its 4 columns"},
      {4, 15, 4,
       "gemm 4 x 4 x 4: a holds 15 elements, fewer than the 16 its 4 x 4 elements with row "
       "stride 4 need"},
      {4, 64, 2, "gemm 4 x 4 x 4: c_row_stride 2 is less than its 4 columns"},
  };
  for (const auto& one : cases) {
    const auto refused = call(one.lda, one.a_size, one.ldc, c);
    REQUIRE(refused);
    CHECK(refused->message == one.message);
    for (const float x : c) REQUIRE(x == gap);
  }
  // C in the same memory as A.
  auto* a_as_floats = reinterpret_cast<float*>(a.data());
  const auto overlapping = panic_of([&] {
    multiply(Transpose::no, Transpose::no, 4, 4, 4, 1.0f, std::span<const bfloat16>(a), 4,
             std::span<const bfloat16>(b), 4, 0.0f, std::span<float>(a_as_floats, 16), 4);
  });
  REQUIRE(overlapping);
  CHECK(overlapping->message == "gemm 4 x 4 x 4: c overlaps a");
  CHECK(a[0].bits() == to_bfloat16(1.0f).bits());
}

TEST_CASE("gemm bf16: packed and threaded results are bit-identical to one thread's, on every path",
          "[gemm][bfloat16]") {
  // The last two run both operands where stored one-shot, and packed B against the packed
  // tile: the same sums, step for step, across slabs of k.
  const Case shapes[] = {
      {Transpose::no, Transpose::no, 70, 300, 300}, {Transpose::yes, Transpose::yes, 45, 130, 517},
      {Transpose::no, Transpose::yes, 200, 20, 33}, {Transpose::no, Transpose::no, 3, 200, 2051},
      {Transpose::no, Transpose::no, 30, 17, 2100}, {Transpose::yes, Transpose::no, 4, 70, 1025}};
  for (const Bf16Path path : gemm_paths()) {
    for (const Case& shape : shapes) {
      INFO(name_of(path) << ' ' << describe(shape));
      Operands one(shape);
      driver::run_bf16(one.problem(0.5f, -1.0f), path);

      for (const unsigned threads : {2u, 3u}) {
        Operands x(shape);
        driver::run_bf16(x.problem(0.5f, -1.0f, threads), path);
        REQUIRE(std::memcmp(x.c.data(), one.c.data(), x.c.size() * sizeof(float)) == 0);
      }

      Operands packed(shape);
      const driver::Bf16Packing packing = driver::bf16_packing(shape.k, shape.n, path);
      std::vector<std::byte> memory(packing.bytes + 64);
      void* aligned =
          memory.data() + (64 - reinterpret_cast<std::uintptr_t>(memory.data()) % 64) % 64;
      driver::pack_b_whole_bf16(packed.problem(1.0f, 0.0f), path, aligned);
      for (const unsigned threads : {1u, 2u}) {
        Operands x(shape);
        Bf16Problem p = x.problem(0.5f, -1.0f, threads);
        p.b = {};
        p.packed_b = {static_cast<const bfloat16*>(aligned),
                      kernels::round_up(shape.n, packing.panel_columns), packing.panel_columns, 0};
        driver::run_bf16(p, path);
        REQUIRE(std::memcmp(x.c.data(), one.c.data(), x.c.size() * sizeof(float)) == 0);
      }
    }
  }
}

TEST_CASE("gemm bf16: the public packed multiply equals the one-shot call", "[gemm][bfloat16]") {
  const Case shape{Transpose::no, Transpose::yes, 50, 77, 300};
  Operands one(shape), packed(shape);
  multiply(shape.transpose_a, shape.transpose_b, shape.m, shape.n, shape.k, 1.0f,
           std::span<const bfloat16>(one.a), one.a_shape.stride(), std::span<const bfloat16>(one.b),
           one.b_shape.stride(), 0.25f, std::span<float>(one.c), one.c_shape.stride());
  auto b = pack_b(shape.transpose_b, shape.k, shape.n, std::span<const bfloat16>(packed.b),
                  packed.b_shape.stride());
  CHECK(b.k() == shape.k);
  CHECK(b.n() == shape.n);
  multiply(shape.transpose_a, shape.m, 1.0f, std::span<const bfloat16>(packed.a),
           packed.a_shape.stride(), b, 0.25f, std::span<float>(packed.c), packed.c_shape.stride(),
           Options{2});
  REQUIRE(std::memcmp(packed.c.data(), one.c.data(), one.c.size() * sizeof(float)) == 0);
  const auto moved = std::move(b);
  const auto refused = panic_of([&] {
    multiply(shape.transpose_a, shape.m, 1.0f, std::span<const bfloat16>(packed.a),
             packed.a_shape.stride(), b, 0.25f, std::span<float>(packed.c),
             packed.c_shape.stride());
  });
  REQUIRE(refused);
  CHECK(refused->message == "gemm 50 x 77 x 300: the packed b was moved from");
}

#if defined(__x86_64__)
TEST_CASE("bf16 dot tile: AVX-512 BF16 gives the scalar definition's bits at every edge",
          "[gemm][bfloat16][kernels]") {
  if (!zum_runtime::simd::processor_has_bf16_dot_products()) return;
  const dot::DotKernels& vector = dot::avx512_bf16_kernels();
  const dot::DotKernels& scalar = dot::scalar_kernels();
  std::mt19937 generator(5);
  for (const size_t pairs : {1u, 2u, 9u, 128u}) {
    std::vector<dot::word> a(pairs * dot::mr), b(pairs * dot::nr);
    for (dot::word& w : a)
      w = random_bf16(generator).bits() | dot::word{random_bf16(generator).bits()} << 16;
    for (dot::word& w : b)
      w = random_bf16(generator).bits() | dot::word{random_bf16(generator).bits()} << 16;
    // A few subnormal and tiny operands, whose products and sums the hardware flushes.
    a[0] = 0x0001'0003u;
    b[1] = 0x0080'8001u;
    for (size_t rows = 1; rows <= dot::mr; ++rows) {
      for (const size_t columns : {1u, 15u, 16u, 17u, 31u, 32u}) {
        for (const auto& [alpha, beta] : {std::pair{1.0f, 0.0f}, {-0.5f, 1.0f}, {2.0f, 0.25f}}) {
          INFO(rows << " x " << columns << " over " << pairs << " pairs, alpha " << alpha
                    << " beta " << beta);
          const size_t stride = dot::nr + 3;
          std::vector<float> want(dot::mr * stride, gap), got(dot::mr * stride, gap);
          for (size_t at = 0; at < want.size(); at += 2)
            want[at] = got[at] = 0.125f * float(at % 7);
          const kernels::Output<float> into_want{want.data(), stride, rows, columns, alpha, beta};
          const kernels::Output<float> into_got{got.data(), stride, rows, columns, alpha, beta};
          scalar.tile(a.data(), b.data(), pairs, into_want);
          vector.tile(a.data(), b.data(), pairs, into_got);
          REQUIRE(std::memcmp(want.data(), got.data(), want.size() * sizeof(float)) == 0);
        }
      }
    }
  }
}

TEST_CASE("bf16 dot packers: AVX-512 BF16 packs A and B as the scalar definitions do",
          "[gemm][bfloat16][kernels]") {
  if (!zum_runtime::simd::processor_has_bf16_dot_products()) return;
  std::mt19937 generator(9);
  using Pack = void (*)(kernels::StridedMatrix<bfloat16>, size_t, size_t, dot::word*);
  const struct {
    const char* name;
    Pack scalar, vector;
    size_t panel;
  } packers[] = {{"A", dot::scalar_kernels().pack_a, dot::avx512_bf16_kernels().pack_a, dot::mr},
                 {"B", dot::scalar_kernels().pack_b, dot::avx512_bf16_kernels().pack_b, dot::nr}};
  for (const auto& packer : packers) {
    for (const Transpose transpose : {Transpose::no, Transpose::yes}) {
      for (const size_t depth : {1u, 2u, 7u, 64u}) {
        for (const size_t across : {1u, 11u, 12u, 13u, 31u, 32u, 33u, 100u}) {
          INFO(packer.name << ' ' << across << " across, " << depth << " deep"
                           << (transpose == Transpose::yes ? ", transposed" : ""));
          // op(A) is across × depth, op(B) depth × across; each stored as transposed says.
          const bool is_a = packer.panel == dot::mr;
          const Stored shape =
              is_a ? stored(transpose, across, depth) : stored(transpose, depth, across);
          std::vector<bfloat16> x(shape.elements());
          for (bfloat16& v : x) v = random_bf16(generator);
          const kernels::StridedMatrix<bfloat16> op =
              transpose == Transpose::no
                  ? kernels::StridedMatrix<bfloat16>{x.data(), shape.stride(), 1}
                  : kernels::StridedMatrix<bfloat16>{x.data(), 1, shape.stride()};
          const size_t words = dot::pairs_of(depth) * kernels::round_up(across, packer.panel);
          std::vector<dot::word> want(words + 1, 0xdead'beefu), got(words + 1, 0xdead'beefu);
          const size_t first = is_a ? across : depth;
          const size_t second = is_a ? depth : across;
          packer.scalar(op, first, second, want.data());
          packer.vector(op, first, second, got.data());
          REQUIRE(want == got);
          REQUIRE(got.back() == 0xdead'beefu);
        }
      }
    }
  }
}

TEST_CASE("bf16 tile on a stored A: AVX-512 BF16 gives the scalar definition's bits at every edge",
          "[gemm][bfloat16][kernels]") {
  if (!zum_runtime::simd::processor_has_bf16_dot_products()) return;
  std::mt19937 generator(13);
  for (const Transpose transpose_a : {Transpose::no, Transpose::yes}) {
    for (const size_t depth : {1u, 2u, 7u, 64u}) {
      const size_t pairs = dot::pairs_of(depth);
      std::vector<dot::word> b(pairs * dot::nr);
      for (dot::word& w : b)
        w = random_bf16(generator).bits() | dot::word{random_bf16(generator).bits()} << 16;
      for (size_t rows = 1; rows <= dot::mr; ++rows) {
        for (const size_t columns : {1u, 16u, 17u, 32u}) {
          INFO(rows << " x " << columns << " x " << depth
                    << (transpose_a == Transpose::yes ? " A^T" : ""));
          Operands x({transpose_a, Transpose::no, rows, columns, depth},
                     static_cast<unsigned>(generator()));
          Operands y = x;
          const kernels::StridedMatrix<bfloat16> a =
              transpose_a == Transpose::no
                  ? kernels::StridedMatrix<bfloat16>{x.a.data(), x.a_shape.stride(), 1}
                  : kernels::StridedMatrix<bfloat16>{x.a.data(), 1, x.a_shape.stride()};
          dot::scalar_kernels().stored_a(
              a, b.data(), depth, {x.c.data(), x.c_shape.stride(), rows, columns, 2.0f, -1.0f});
          dot::avx512_bf16_kernels().stored_a(
              a, b.data(), depth, {y.c.data(), y.c_shape.stride(), rows, columns, 2.0f, -1.0f});
          REQUIRE(std::memcmp(x.c.data(), y.c.data(), x.c.size() * sizeof(float)) == 0);
        }
      }
    }
  }
}

TEST_CASE("bf16 stored tile: AVX-512 BF16 gives the scalar definition's bits at every edge",
          "[gemm][bfloat16][kernels]") {
  if (!zum_runtime::simd::processor_has_bf16_dot_products()) return;
  std::mt19937 generator(11);
  for (const Transpose transpose_a : {Transpose::no, Transpose::yes}) {
    for (const size_t depth : {1u, 2u, 7u, 64u}) {
      for (size_t rows = 1; rows <= dot::stored_rows; ++rows) {
        for (const size_t columns :
             {1u, 15u, 16u, 17u, 31u, 32u, 33u, 48u, 63u, 64u, 200u, 1024u}) {
          INFO(rows << " x " << columns << " x " << depth
                    << (transpose_a == Transpose::yes ? " A^T" : ""));
          Operands x({transpose_a, Transpose::no, rows, columns, depth},
                     static_cast<unsigned>(generator()));
          x.a[0] = bfloat16::from_bits(0x0003);  // a subnormal, taken as zero
          Operands y = x;
          const auto view = [](Transpose t, const std::vector<bfloat16>& data,
                               const Stored& shape) {
            return t == Transpose::no
                       ? kernels::StridedMatrix<bfloat16>{data.data(), shape.stride(), 1}
                       : kernels::StridedMatrix<bfloat16>{data.data(), 1, shape.stride()};
          };
          for (const auto& [alpha, beta] : {std::pair{1.0f, 0.0f}, {-0.5f, 0.75f}}) {
            dot::scalar_kernels().stored(
                view(transpose_a, x.a, x.a_shape), view(Transpose::no, x.b, x.b_shape), depth,
                {x.c.data(), x.c_shape.stride(), rows, columns, alpha, beta});
            dot::avx512_bf16_kernels().stored(
                view(transpose_a, y.a, y.a_shape), view(Transpose::no, y.b, y.b_shape), depth,
                {y.c.data(), y.c_shape.stride(), rows, columns, alpha, beta});
            REQUIRE(std::memcmp(x.c.data(), y.c.data(), x.c.size() * sizeof(float)) == 0);
          }
        }
      }
    }
  }
}
#endif
