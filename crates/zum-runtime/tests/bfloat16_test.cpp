#include <catch2/catch.hpp>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "base/bfloat16.hpp"
#include "base/internal/bfloat16_paths.hpp"
#include "panic_capture.hpp"

namespace {

using zum_runtime::bfloat16;
using zum_runtime::bf16::Bf16Path;
using zum_runtime::simd::IsaLimit;
using zum_runtime::testing::panic_of;

// The rounding rule itself: the nearer of the two bfloat16 values around the float, the even
// one on a tie; NaN made quiet, subnormals to a signed zero.
std::uint16_t reference_bits(std::uint32_t bits) {
  const float value = std::bit_cast<float>(bits);
  const auto upper = static_cast<std::uint16_t>(bits >> 16);
  if (std::isnan(value)) return static_cast<std::uint16_t>(upper | 0x40u);
  if (std::fpclassify(value) == FP_SUBNORMAL || value == 0.0f)
    return static_cast<std::uint16_t>(upper & 0x8000u);
  if (std::isinf(value)) return upper;
  const auto toward_zero = static_cast<std::uint16_t>(upper);
  const auto away = static_cast<std::uint16_t>(upper + 1u);
  const double low = std::fabs(double{std::bit_cast<float>(std::uint32_t{toward_zero} << 16)});
  // Past the largest finite bfloat16 the next value up is 2^128, which rounds to infinity.
  const double high = (away & 0x7fffu) == 0x7f80u
                          ? std::ldexp(1.0, 128)
                          : std::fabs(double{std::bit_cast<float>(std::uint32_t{away} << 16)});
  const double magnitude = std::fabs(double{value});
  if (magnitude - low < high - magnitude) return toward_zero;
  if (magnitude - low > high - magnitude) return away;
  return (toward_zero & 1u) == 0 ? toward_zero : away;
}

// The value a bfloat16 stands for, from its fields.
long double reference_value(std::uint16_t bits) {
  const int exponent = (bits >> 7) & 0xff;
  const int mantissa = bits & 0x7f;
  const long double sign = (bits & 0x8000u) != 0 ? -1.0L : 1.0L;
  if (exponent == 0xff)
    return mantissa == 0 ? sign * std::numeric_limits<long double>::infinity()
                         : std::numeric_limits<long double>::quiet_NaN();
  if (exponent == 0) return sign * std::ldexp(static_cast<long double>(mantissa) / 128, -126);
  return sign * std::ldexp(1.0L + static_cast<long double>(mantissa) / 128, exponent - 127);
}

std::string name_of(Bf16Path path) {
  return std::string(zum_runtime::bf16::bf16_path_name(path));
}

// The float bits a test walks: every float in optimized x86-64 builds, every 251st (with
// every rounding case of the lower half still met) where the walk would take minutes:
// unoptimized and sanitized builds, and other architectures, run under emulation in CI, whose
// one path is the scalar form itself.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZUM_TEST_SANITIZED
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZUM_TEST_SANITIZED
#endif
#endif
#if defined(__OPTIMIZE__) && defined(__x86_64__) && !defined(ZUM_TEST_SANITIZED)
constexpr std::uint64_t float_step = 1;
#else
constexpr std::uint64_t float_step = 251;
#endif

}  // namespace

TEST_CASE("bfloat16: the scalar conversion follows the rounding rule at every rounding case",
          "[bfloat16]") {
  for (std::uint32_t upper = 0; upper <= 0xffffu; ++upper) {
    for (const std::uint32_t lower : {0x0000u, 0x0001u, 0x7fffu, 0x8000u, 0x8001u, 0xffffu}) {
      const std::uint32_t bits = upper << 16 | lower;
      INFO("float bits " << std::hex << bits);
      REQUIRE(zum_runtime::to_bfloat16(std::bit_cast<float>(bits)).bits() == reference_bits(bits));
    }
  }
}

TEST_CASE(
    "bfloat16: every float through the span form rounds as the scalar form does, on every path",
    "[bfloat16]") {
  constexpr std::size_t chunk = 1 << 16;
  const auto paths = zum_runtime::bf16::runnable_bf16_paths();
  std::vector<float> from(chunk);
  std::vector<std::uint16_t> want(chunk);
  std::vector<bfloat16> got(chunk);
  std::vector<std::size_t> mismatches(paths.size());
  constexpr std::uint64_t floats = (std::uint64_t{1} << 32) / float_step;
  for (std::uint64_t first = 0; first < floats; first += chunk) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, floats - first));
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint64_t bits = (first + i) * float_step;
      from[i] = std::bit_cast<float>(static_cast<std::uint32_t>(bits));
    }
    for (std::size_t i = 0; i < count; ++i) want[i] = zum_runtime::to_bfloat16(from[i]).bits();
    for (std::size_t path = 0; path < paths.size(); ++path) {
      // Every float on the path the span form runs, every 13th run of them on the others.
      if (path + 1 != paths.size() && (first / chunk) % 13 != 0) continue;
      zum_runtime::bf16::conversions_of(paths[path]).to_bfloat16(from.data(), got.data(), count);
      std::size_t differing = 0;
      for (std::size_t i = 0; i < count; ++i) differing += got[i].bits() != want[i];
      mismatches[path] += differing;
    }
  }
  for (std::size_t path = 0; path < paths.size(); ++path) {
    INFO("path " << name_of(paths[path]));
    CHECK(mismatches[path] == 0);
  }
}

TEST_CASE("bfloat16: every bfloat16 widens to exactly the value its fields say, on every path",
          "[bfloat16]") {
  std::vector<bfloat16> all(1 << 16);
  for (std::uint32_t bits = 0; bits <= 0xffffu; ++bits)
    all[bits] = bfloat16::from_bits(static_cast<std::uint16_t>(bits));
  for (const Bf16Path path : zum_runtime::bf16::runnable_bf16_paths()) {
    INFO("path " << name_of(path));
    std::vector<float> widened(all.size());
    zum_runtime::bf16::conversions_of(path).to_float(all.data(), widened.data(), all.size());
    std::size_t mismatches = 0;
    for (std::uint32_t bits = 0; bits <= 0xffffu; ++bits) {
      const long double want = reference_value(static_cast<std::uint16_t>(bits));
      const float got = widened[bits];
      const bool same = std::isnan(want) ? std::isnan(got) : got == want;
      const bool same_sign = std::signbit(got) == ((bits & 0x8000u) != 0);
      const bool as_scalar = std::bit_cast<std::uint32_t>(got) ==
                             std::bit_cast<std::uint32_t>(zum_runtime::to_float(all[bits]));
      mismatches += !(same && same_sign && as_scalar);
    }
    CHECK(mismatches == 0);
  }
}

TEST_CASE("bfloat16: the span forms convert whole spans, tails included, and round trip",
          "[bfloat16]") {
  for (const std::size_t count : {0u, 1u, 15u, 16u, 17u, 33u, 1000u}) {
    std::vector<float> from(count);
    for (std::size_t i = 0; i < count; ++i) from[i] = 1.0f + static_cast<float>(i) / 3.0f;
    std::vector<bfloat16> narrow(count);
    std::vector<float> back(count, -1.0f);
    zum_runtime::to_bfloat16(from, narrow);
    zum_runtime::to_float(narrow, back);
    for (std::size_t i = 0; i < count; ++i) {
      INFO("element " << i << " of " << count);
      REQUIRE(narrow[i].bits() == zum_runtime::to_bfloat16(from[i]).bits());
      REQUIRE(back[i] == zum_runtime::to_float(narrow[i]));
    }
  }
}

TEST_CASE("bfloat16: spans of different sizes panic before anything is written", "[bfloat16]") {
  const std::vector<float> floats(4, 2.0f);
  std::vector<bfloat16> narrow(3, bfloat16::from_bits(0x1234));
  const auto narrowing = panic_of([&] { zum_runtime::to_bfloat16(floats, narrow); });
  REQUIRE(narrowing);
  CHECK(narrowing->message ==
        "to_bfloat16: from holds 4 elements and to holds 3; they must be the same");
  CHECK(narrow[0].bits() == 0x1234);

  std::vector<float> wide(5, -1.0f);
  const auto widening = panic_of([&] { zum_runtime::to_float(narrow, wide); });
  REQUIRE(widening);
  CHECK(widening->message ==
        "to_float: from holds 3 elements and to holds 5; they must be the same");
  CHECK(wide[0] == -1.0f);
}

TEST_CASE("ZUM_MAX_ISA: each value names its limit, and unknown ones are told apart", "[simd]") {
  using zum_runtime::simd::parse_isa_limit;
  const struct {
    const char* value;
    std::optional<IsaLimit> limit;
  } cases[] = {
      {nullptr, IsaLimit::native},
      {"generic", IsaLimit::generic},
      {"sse2", IsaLimit::sse2},
      {"avx2", IsaLimit::avx2},
      {"avx512", IsaLimit::avx512},
      {"avx512_vnni", IsaLimit::avx512_vnni},
      {"avx512_bf16", IsaLimit::avx512_bf16},
      {"native", IsaLimit::native},
      {"", std::nullopt},
      {"AVX2", std::nullopt},
      {"avx2 ", std::nullopt},
      {"avx512bf16", std::nullopt},
  };
  for (const auto& one : cases) {
    INFO("ZUM_MAX_ISA=" << (one.value ? one.value : "(unset)"));
    CHECK(parse_isa_limit(one.value) == one.limit);
  }
}
