#include <catch2/catch.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "gemm/gemm.hpp"
#include "gemm/internal/int8_driver.hpp"
#include "gemm/internal/kernel_table.hpp"
#include "gemm_cases.hpp"
#include "panic_capture.hpp"
#include "simd/internal/paths.hpp"

namespace {

using namespace zum_runtime::gemm;
using driver::Int8Path;
using driver::Int8Problem;
using std::size_t;
using zum_runtime::testing::panic_of;
namespace int8 = kernels::int8;

// Every kernel path this processor runs, the portable one first.
std::vector<Int8Path> int8_paths() {
  std::vector<Int8Path> paths{Int8Path::generic};
  for (const auto path : kernels::runnable_paths())
    if (path == kernels::SimdPath::avx2) paths.push_back(Int8Path::avx2);
  if (zum_runtime::simd::processor_has_int8_dot_products()) paths.push_back(Int8Path::avx512_vnni);
  return paths;
}

using Case = zum_runtime::testing::GemmCase;
using zum_runtime::testing::describe;
using Stored = zum_runtime::testing::PaddedMatrix<7>;
constexpr auto stored = zum_runtime::testing::stored_as<7>;

constexpr std::int32_t gap = -777;

// One call's operands: A's bytes (read unsigned or signed), B's signed bytes, C with a gap
// past its columns.
struct Operands {
  Case shape;
  bool a_signed;
  std::int32_t a_zero, b_zero;
  Stored a_shape, b_shape, c_shape;
  std::vector<std::uint8_t> a;
  std::vector<std::int8_t> b;
  std::vector<std::int32_t> c;

  Operands(const Case& s, bool signed_a, std::int32_t za, std::int32_t zb, unsigned seed = 1)
      : shape(s),
        a_signed(signed_a),
        a_zero(za),
        b_zero(zb),
        a_shape(stored(s.transpose_a, s.m, s.k)),
        b_shape(stored(s.transpose_b, s.k, s.n)),
        c_shape{s.m, s.n},
        a(a_shape.elements()),
        b(b_shape.elements()),
        c(c_shape.rows * c_shape.stride(), gap) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto& x : a) x = static_cast<std::uint8_t>(byte(generator));
    for (auto& x : b) x = static_cast<std::int8_t>(byte(generator) - 128);
    for (size_t i = 0; i < s.m; ++i)
      for (size_t j = 0; j < s.n; ++j) c[i * c_shape.stride() + j] = byte(generator) * 99991;
  }

  std::int64_t op_a(size_t i, size_t p) const {
    const std::uint8_t x = shape.transpose_a == Transpose::no ? a[i * a_shape.stride() + p]
                                                              : a[p * a_shape.stride() + i];
    return (a_signed ? std::int64_t{static_cast<std::int8_t>(x)} : std::int64_t{x}) - a_zero;
  }
  std::int64_t op_b(size_t p, size_t j) const {
    return std::int64_t{shape.transpose_b == Transpose::no ? b[p * b_shape.stride() + j]
                                                           : b[j * b_shape.stride() + p]} -
           b_zero;
  }

  Int8Problem problem(bool accumulate, unsigned threads = 1) {
    const driver::Int8Operands operands{shape.transpose_a,
                                        shape.transpose_b,
                                        shape.m,
                                        shape.n,
                                        shape.k,
                                        1,
                                        a,
                                        a_shape.stride(),
                                        {reinterpret_cast<const std::uint8_t*>(b.data()), b.size()},
                                        b_shape.stride(),
                                        accumulate,
                                        c,
                                        c_shape.stride(),
                                        threads};
    return {operands, {a_signed, a_zero}, b_zero};
  }

  // The exact result modulo 2³², from a 64-bit sum.
  std::int32_t expected(size_t i, size_t j, std::int32_t before, bool accumulate) const {
    std::int64_t sum = accumulate ? before : 0;
    for (size_t p = 0; p < shape.k; ++p) sum += op_a(i, p) * op_b(p, j);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(sum));
  }
};

// The first element of C that differs from the reference, or past C's columns from the gap:
// its (row, column), or an empty string.
std::string first_wrong(const Operands& x, const std::vector<std::int32_t>& before, bool accumulate,
                        size_t row_step = 1) {
  for (size_t i = 0; i < x.shape.m; i += row_step) {
    for (size_t j = 0; j < x.c_shape.stride(); ++j) {
      const size_t at = i * x.c_shape.stride() + j;
      const std::int32_t want = j < x.shape.n ? x.expected(i, j, before[at], accumulate) : gap;
      if (x.c[at] != want) {
        return "c(" + std::to_string(i) + ", " + std::to_string(j) +
               ") = " + std::to_string(x.c[at]) + ", not " + std::to_string(want);
      }
    }
  }
  return "";
}

std::vector<Case> edge_cases() {
  std::vector<Case> cases;
  const Transpose no = Transpose::no, yes = Transpose::yes;
  for (const auto& [ta, tb] : {std::pair{no, no}, {no, yes}, {yes, no}, {yes, yes}}) {
    for (const size_t m : {1u, 5u, 6u, 7u, 12u, 13u})
      for (const size_t n : {1u, 8u, 15u, 16u, 17u, 31u, 32u, 33u})
        for (const size_t k : {1u, 2u, 3u, 4u, 5u, 63u, 64u, 65u})
          cases.push_back({ta, tb, m, n, k});
  }
  // A few rows read where stored against untransposed B: its blocks of 64 columns and 16 rows.
  for (const size_t m : {2u, 4u})
    for (const size_t n : {63u, 64u, 65u, 130u})
      for (const size_t k : {15u, 16u, 17u, 67u}) cases.push_back({no, no, m, n, k});
  return cases;
}

struct ZeroPoints {
  bool a_signed;
  std::int32_t a_zero, b_zero;
};
constexpr ZeroPoints zero_points[] = {
    {false, 0, 0}, {false, 255, -128}, {false, 17, 0},  {false, 0, 127},
    {true, 0, 0},  {true, -128, 127},  {true, 127, -5}, {true, 0, -128},
};

}  // namespace

TEST_CASE("gemm int8: every path is exact at every tile edge, zero point and transpose",
          "[gemm][int8]") {
  for (const Int8Path path : int8_paths()) {
    for (const Case& shape : edge_cases()) {
      for (const ZeroPoints& z : zero_points) {
        const bool accumulate = (shape.m + shape.k + z.a_signed) % 2 == 0;
        Operands x(shape, z.a_signed, z.a_zero, z.b_zero,
                   static_cast<unsigned>(shape.m * 7 + shape.n * 3 + shape.k));
        const std::vector<std::int32_t> before = x.c;
        driver::run_int8(x.problem(accumulate), driver::int8_kernels(path));
        INFO(driver::int8_path_name(path)
             << ' ' << describe(shape) << (z.a_signed ? " s8" : " u8") << " zero points "
             << z.a_zero << ", " << z.b_zero << (accumulate ? " accumulating" : ""));
        REQUIRE(first_wrong(x, before, accumulate) == "");
      }
    }
  }
}

TEST_CASE("gemm int8: slabs deeper than one, many blocks, and threads, exact on every path",
          "[gemm][int8]") {
  const Case shapes[] = {{Transpose::no, Transpose::no, 250, 270, 2100},
                         {Transpose::yes, Transpose::yes, 37, 530, 4099},
                         {Transpose::no, Transpose::yes, 3, 300, 1030}};
  for (const Int8Path path : int8_paths()) {
    for (const Case& shape : shapes) {
      for (const unsigned threads : {1u, 3u}) {
        INFO(driver::int8_path_name(path) << ' ' << describe(shape) << " threads " << threads);
        const bool accumulate = threads == 3;
        Operands x(shape, shape.m % 2 == 1, 3, -7);
        const std::vector<std::int32_t> before = x.c;
        driver::run_int8(x.problem(accumulate, threads), driver::int8_kernels(path));
        REQUIRE(first_wrong(x, before, accumulate, 11) == "");
      }
    }
  }
}

TEST_CASE("gemm int8: sums past 2^31 wrap as int32 lanes do, never saturate", "[gemm][int8]") {
  // 255 · 255 over 70,000 steps is 4,551,750,000: past 2³² once.
  const size_t k = 70'000;
  for (const Int8Path path : int8_paths()) {
    INFO(driver::int8_path_name(path));
    Operands x({Transpose::no, Transpose::yes, 2, 3, k}, false, 0, -128);
    std::fill(x.a.begin(), x.a.end(), std::uint8_t{255});
    std::fill(x.b.begin(), x.b.end(), std::int8_t{127});
    const std::vector<std::int32_t> before = x.c;
    driver::run_int8(x.problem(false), driver::int8_kernels(path));
    REQUIRE(x.c[0] == static_cast<std::int32_t>(std::uint32_t{4'551'750'000u - 4'294'967'296u}));
    REQUIRE(first_wrong(x, before, false) == "");
  }
}

TEST_CASE("gemm int8: each vector packer gives the scalar one's panels and sums", "[gemm][int8]") {
  std::vector<std::pair<const int8::Kernels*, const int8::Kernels*>> pairs;
#if defined(__x86_64__)
  if (zum_runtime::simd::processor_has_int8_dot_products())
    pairs.push_back({&int8::avx512_vnni_quads(), &int8::scalar_quads()});
  for (const auto path : kernels::runnable_paths())
    if (path == kernels::SimdPath::avx2)
      pairs.push_back({&int8::avx2_pairs(), &int8::scalar_pairs()});
#endif
  for (const auto& [vector, scalar] : pairs) {
    for (const size_t depth : {1u, 3u, 4u, 5u, 67u, 130u}) {
      for (const size_t lines : {1u, 11u, 12u, 13u, 32u, 33u, 64u, 65u, 100u}) {
        for (const bool signed_a : {false, true}) {
          INFO("depth " << depth << " lines " << lines << (signed_a ? " s8" : " u8"));
          std::vector<std::uint8_t> x((depth + 3) * (lines + 3) + 7);
          for (size_t at = 0; at < x.size(); ++at) x[at] = static_cast<std::uint8_t>(at * 37 + 11);
          const size_t words = vector->words_of(depth);
          for (const size_t step : {size_t{1}, lines + 3}) {
            // Lines along k when step is 1; k across the stored rows otherwise.
            const int8::Values values{signed_a, signed_a ? -3 : 17};
            const kernels::StridedMatrix<std::uint8_t> a{x.data(), step == 1 ? depth + 2 : 1,
                                                         step == 1 ? 1 : lines + 3};
            std::vector<std::uint32_t> got(words * 128, 1), want(words * 128, 1);
            std::vector<std::uint32_t> got_sums(lines, 1), want_sums(lines, 1);
            vector->pack_a(a, lines, depth, values, got.data(), got_sums.data());
            scalar->pack_a(a, lines, depth, values, want.data(), want_sums.data());
            REQUIRE(got == want);
            REQUIRE(got_sums == want_sums);
            const kernels::StridedMatrix<std::uint8_t> b{a.data, a.column_step, a.row_step};
            vector->pack_b(b, depth, lines, {true, -5}, got.data(), got_sums.data());
            scalar->pack_b(b, depth, lines, {true, -5}, want.data(), want_sums.data());
            REQUIRE(got == want);
            REQUIRE(got_sums == want_sums);
          }
        }
      }
    }
  }
}

TEST_CASE("gemm int8: k 0 zeroes C, or leaves it accumulating, without reading A or B",
          "[gemm][int8]") {
  for (const Accumulate accumulate : {Accumulate::no, Accumulate::yes}) {
    std::vector<std::int32_t> c(12, 5);
    multiply(Transpose::no, Transpose::no, 3, 3, 0, std::span<const std::uint8_t>{}, 0,
             std::uint8_t{9}, std::span<const std::int8_t>{}, 3, std::int8_t{1}, accumulate,
             std::span<std::int32_t>(c), 4);
    for (size_t at = 0; at < c.size(); ++at) {
      const bool in_c = at % 4 < 3;
      REQUIRE(c[at] == (in_c && accumulate == Accumulate::no ? 0 : 5));
    }
  }
}

TEST_CASE("gemm int8: m or n zero writes nothing", "[gemm][int8]") {
  for (const auto& [m, n] : {std::pair<size_t, size_t>{0, 5}, {5, 0}}) {
    std::vector<std::int8_t> a(40, 1), b(40, 1);
    std::vector<std::int32_t> c(40, gap);
    multiply(Transpose::no, Transpose::no, m, n, 4, std::span<const std::int8_t>(a), 4,
             std::int8_t{0}, std::span<const std::int8_t>(b), 5, std::int8_t{0}, Accumulate::no,
             std::span<std::int32_t>(c), 5);
    for (const std::int32_t x : c) REQUIRE(x == gap);
  }
}

TEST_CASE("gemm int8: refusals panic in the float form's words with C untouched", "[gemm][int8]") {
  std::vector<std::uint8_t> a(64, 1);
  std::vector<std::int8_t> b(64, 1);
  std::vector<std::int32_t> c(64, gap);
  const auto call = [&](size_t lda, size_t a_size, size_t ldc,
                        std::span<const std::uint8_t> a_span) {
    return panic_of([&] {
      multiply(Transpose::no, Transpose::no, 4, 4, 4, a_span.first(a_size), lda, std::uint8_t{0},
               std::span<const std::int8_t>(b), 4, std::int8_t{0}, Accumulate::no,
               std::span<std::int32_t>(c), ldc);
    });
  };
  const std::span<const std::uint8_t> own(a);
  // A's bytes inside C's first row, which the call writes.
  const std::span<const std::uint8_t> in_c(reinterpret_cast<const std::uint8_t*>(c.data()) + 4, 40);
  const struct {
    std::optional<std::string> message;
    size_t lda, a_size, ldc;
    std::span<const std::uint8_t> a_span;
  } cases[] = {
      {"gemm 4 x 4 x 4: a_row_stride 3 is less than its 4 columns", 3, 64, 4, own},
      {"gemm 4 x 4 x 4: c_row_stride 3 is less than its 4 columns", 4, 64, 3, own},
      {"gemm 4 x 4 x 4: a holds 15 elements, fewer than the 16 its 4 x 4 elements with row "
       "stride 4 need",
       4, 15, 4, own},
      {"gemm 4 x 4 x 4: c overlaps a", 4, 16, 4, in_c},
      {"gemm 4 x 4 x 4: a: 4 rows of stride 18446744073709551615 span more memory than exists",
       SIZE_MAX, 64, 4, own},
      {"gemm 4 x 4 x 4: c: 4 rows of stride 4611686018427387904 span more memory than exists", 4,
       64, size_t{1} << 62, own},
  };
  for (const auto& one : cases) {
    INFO(one.message.value_or("accepted"));
    const auto report = call(one.lda, one.a_size, one.ldc, one.a_span);
    REQUIRE(report.has_value());
    CHECK(report->message == *one.message);
    for (const std::int32_t x : c) REQUIRE(x == gap);
  }
}

TEST_CASE("gemm int8: the packed B's refusals and B's own, in the float form's words",
          "[gemm][int8]") {
  const std::vector<std::int8_t> b(64, 1);
  std::vector<std::int32_t> c(64, gap);
  const auto b_refusal = panic_of([&] {
    multiply(Transpose::no, Transpose::no, 4, 4, 4, std::span<const std::int8_t>(b), 4,
             std::int8_t{0}, std::span<const std::int8_t>(b).first(10), 4, std::int8_t{0},
             Accumulate::yes, std::span<std::int32_t>(c), 4);
  });
  REQUIRE(b_refusal.has_value());
  CHECK(b_refusal->message ==
        "gemm 4 x 4 x 4: b holds 10 elements, fewer than the 16 its 4 x 4 elements with row "
        "stride 4 need");
  const auto pack_refusal = panic_of([&] {
    (void)pack_b(Transpose::yes, 4, 5, std::span<const std::int8_t>(b), 3, std::int8_t{1});
  });
  REQUIRE(pack_refusal.has_value());
  CHECK(pack_refusal->message == "gemm pack_b 4 x 5: b_row_stride 3 is less than its 4 columns");
  // C overlapping B's bytes: B read from C's first row.
  const std::span<const std::int8_t> b_in_c(reinterpret_cast<const std::int8_t*>(c.data()), 16);
  const auto overlap = panic_of([&] {
    multiply(Transpose::no, Transpose::no, 4, 4, 4, std::span<const std::int8_t>(b), 4,
             std::int8_t{0}, b_in_c, 4, std::int8_t{0}, Accumulate::no, std::span<std::int32_t>(c),
             4);
  });
  REQUIRE(overlap.has_value());
  CHECK(overlap->message == "gemm 4 x 4 x 4: c overlaps b");
  for (const std::int32_t x : c) REQUIRE(x == gap);
}

TEST_CASE("gemm int8: A's bytes may lie in C's memory the call does not touch", "[gemm][int8]") {
  // C is 2 × 4 with row stride 16; A (2 × 4, row stride 16 bytes) sits in C's unwritten gap.
  std::vector<std::int32_t> c(32, 0);
  auto* bytes = reinterpret_cast<std::uint8_t*>(c.data());
  for (size_t at = 16; at < 52; ++at) bytes[at] = 2;
  const std::vector<std::int8_t> b(16, 3);
  multiply(Transpose::no, Transpose::no, 2, 4, 4, std::span<const std::uint8_t>(bytes + 16, 36), 16,
           std::uint8_t{0}, std::span<const std::int8_t>(b), 4, std::int8_t{0}, Accumulate::no,
           std::span<std::int32_t>(c), 16);
  for (const size_t at : {0u, 3u, 16u, 19u}) REQUIRE(c[at] == 24);
}

TEST_CASE("gemm int8: the packed B gives the one-shot result for any threads", "[gemm][int8]") {
  const Case shapes[] = {{Transpose::no, Transpose::no, 45, 77, 2053},
                         {Transpose::yes, Transpose::yes, 20, 33, 9},
                         {Transpose::no, Transpose::yes, 130, 200, 64}};
  for (const Case& shape : shapes) {
    for (const bool signed_a : {false, true}) {
      INFO(describe(shape) << (signed_a ? " s8" : " u8"));
      Operands x(shape, signed_a, signed_a ? -3 : 200, 9);
      const std::vector<std::int32_t> before = x.c;
      const PackedB<std::int8_t> packed =
          pack_b(shape.transpose_b, shape.k, shape.n, std::span<const std::int8_t>(x.b),
                 x.b_shape.stride(), std::int8_t{9});
      for (const unsigned threads : {1u, 2u, 3u}) {
        x.c = before;
        if (signed_a) {
          multiply(shape.transpose_a, shape.m,
                   std::span<const std::int8_t>(reinterpret_cast<const std::int8_t*>(x.a.data()),
                                                x.a.size()),
                   x.a_shape.stride(), static_cast<std::int8_t>(x.a_zero), packed, Accumulate::yes,
                   std::span<std::int32_t>(x.c), x.c_shape.stride(), Options{threads});
        } else {
          multiply(shape.transpose_a, shape.m, std::span<const std::uint8_t>(x.a),
                   x.a_shape.stride(), static_cast<std::uint8_t>(x.a_zero), packed, Accumulate::yes,
                   std::span<std::int32_t>(x.c), x.c_shape.stride(), Options{threads});
        }
        REQUIRE(first_wrong(x, before, true, 3) == "");
      }
    }
  }
}
