#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

// The `shapes` mode of zum-gemm-bench: GEMM shapes drawn at random as users meet them, and the
// summary of how the library fares against the faster peer on them.
namespace zum_bench {

struct RandomShape {
  std::size_t m, n, k;
  bool transpose_a, transpose_b;
};

// Each dimension log-uniform in [1, largest], each operand transposed one time in four; the
// same seed draws the same shapes. Shapes already drawn are drawn again, so all `count` differ.
inline std::vector<RandomShape> random_shapes(std::uint64_t seed, std::size_t count,
                                              std::size_t largest = 700) {
  std::mt19937_64 generator(seed);
  std::uniform_real_distribution<double> log_extent(0.0, std::log(double(largest) + 1.0));
  std::bernoulli_distribution transposed(0.25);
  const auto extent = [&] {
    const auto drawn = static_cast<std::size_t>(std::exp(log_extent(generator)));
    return std::clamp<std::size_t>(drawn, 1, largest);
  };
  std::vector<RandomShape> shapes;
  while (shapes.size() < count) {
    RandomShape s{};
    s.m = extent();
    s.n = extent();
    s.k = extent();
    s.transpose_a = transposed(generator);
    s.transpose_b = transposed(generator);
    const bool seen = std::any_of(shapes.begin(), shapes.end(), [&](const RandomShape& t) {
      return t.m == s.m && t.n == s.n && t.k == s.k && t.transpose_a == s.transpose_a &&
             t.transpose_b == s.transpose_b;
    });
    if (!seen) shapes.push_back(s);
  }
  return shapes;
}

// Of the library's speed over the faster peer's, per shape: how many reach 1.0, the worst and
// the geometric mean.
struct RatioSummary {
  std::size_t shapes = 0;
  std::size_t at_least_level = 0;
  double worst = std::numeric_limits<double>::infinity();
  std::string worst_shape;
  double log_sum = 0;

  void add(const std::string& shape, double ratio) {
    ++shapes;
    if (ratio >= 1.0) ++at_least_level;
    if (ratio < worst) {
      worst = ratio;
      worst_shape = shape;
    }
    log_sum += std::log(ratio);
  }
  double geometric_mean() const { return shapes == 0 ? 0 : std::exp(log_sum / double(shapes)); }
  double share_at_least_level() const {
    return shapes == 0 ? 0 : double(at_least_level) / double(shapes);
  }
};

}  // namespace zum_bench
