#include <catch2/catch.hpp>

#include <cmath>
#include <cstdint>
#include <set>
#include <tuple>

#include "random_shapes.hpp"

// The `shapes` mode of zum-gemm-bench: what it draws and how it sums the ratios up.
namespace {

using zum_bench::RandomShape;
using zum_bench::RatioSummary;

auto key(const RandomShape& s) {
  return std::tuple(s.m, s.n, s.k, s.transpose_a, s.transpose_b);
}

TEST_CASE("random shapes: a seed draws the same distinct shapes within [1, largest]") {
  for (const std::uint64_t seed : {1u, 2u, 99u}) {
    const auto shapes = zum_bench::random_shapes(seed, 200);
    REQUIRE(shapes.size() == 200);
    std::set<decltype(key(shapes[0]))> seen;
    std::size_t transposed = 0, below_ten = 0, above_seventy = 0;
    for (const RandomShape& s : shapes) {
      seen.insert(key(s));
      for (const std::size_t extent : {s.m, s.n, s.k}) {
        REQUIRE(extent >= 1);
        REQUIRE(extent <= 700);
        below_ten += extent < 10;
        above_seventy += extent > 70;
      }
      transposed += std::size_t{s.transpose_a} + std::size_t{s.transpose_b};
    }
    CHECK(seen.size() == 200);
    // Log-uniform: [1, 10) and (70, 700] each hold about a third of 600 extents.
    CHECK(below_ten > 120);
    CHECK(below_ten < 280);
    CHECK(above_seventy > 120);
    CHECK(above_seventy < 280);
    // One operand in four transposed: about 100 of 400.
    CHECK(transposed > 60);
    CHECK(transposed < 140);
    const auto again = zum_bench::random_shapes(seed, 200);
    for (std::size_t i = 0; i < shapes.size(); ++i) REQUIRE(key(again[i]) == key(shapes[i]));
  }
  CHECK(key(zum_bench::random_shapes(1, 1)[0]) != key(zum_bench::random_shapes(2, 1)[0]));
  for (const RandomShape& s : zum_bench::random_shapes(5, 8, 2)) {
    CHECK((s.m <= 2 && s.n <= 2 && s.k <= 2));
  }
}

TEST_CASE("random shapes: the summary counts shapes level or ahead, the worst and the mean") {
  RatioSummary summary;
  CHECK(summary.geometric_mean() == 0);
  CHECK(summary.share_at_least_level() == 0);
  summary.add("a", 2.0);
  summary.add("b", 0.5);
  summary.add("c", 1.0);
  summary.add("d", 0.25);
  CHECK(summary.shapes == 4);
  CHECK(summary.at_least_level == 2);
  CHECK(summary.share_at_least_level() == 0.5);
  CHECK(summary.worst == 0.25);
  CHECK(summary.worst_shape == "d");
  CHECK(std::fabs(summary.geometric_mean() - std::pow(0.25, 0.25)) < 1e-12);
}

}  // namespace
