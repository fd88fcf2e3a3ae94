// The zum_gemm_e2e program. Its program build (ZUM_GEMM_E2E_PROGRAM) runs a GEMM end to end;
// its unit-test build hands the harness the program's registered tests instead.
#ifdef ZUM_GEMM_E2E_PROGRAM

#include "gemm_e2e_program.hpp"

int main(int argc, char* argv[]) {
  return zum_gemm_e2e::run_program(argc, argv);
}

#else

#include <array>
#include <cstddef>
#include <cstdint>

#include <catch2/catch.hpp>

#include "base/checked_arithmetic.hpp"
#include "base/internal/assertions.hpp"
#include "internal/coordinate_set.hpp"
#include "lib.hpp"
#include "test_harness.hpp"

namespace tests {

using zum_runtime::assert_eq;
using zum_runtime::assert_that;
using zum_runtime::checked_mul;
using zum_runtime::blocked_data::block_coordinates;
using zum_runtime::blocked_data::BlockLayout;
using zum_runtime::blocked_data::CoordinateSet;

struct Configuration {
  BlockLayout layout;
  std::uint16_t rows;
  std::uint16_t columns;
};

// Whole-panel shapes, one per layout, visited in this order.
constexpr std::array<Configuration, 8> configurations{{
    {BlockLayout::KivA8, 128, 32},
    {BlockLayout::KivA16, 128, 32},
    {BlockLayout::KivA32, 128, 64},
    {BlockLayout::KivB8x16, 32, 64},
    {BlockLayout::KivB16x16, 32, 64},
    {BlockLayout::KivB32x16, 64, 64},
    {BlockLayout::KivC16, 128, 64},
    {BlockLayout::KivC16F16, 128, 64},
}};

// Every position of the buffer lands on a distinct element, and every element it lands on
// lies inside the matrix.
void check_bijection(const Configuration& configuration) {
  const auto [layout, rows, columns] = configuration;
  const std::uint16_t elements = checked_mul(rows, columns);
  CoordinateSet coordinates(rows, columns);
  for (std::uint16_t linear = 0; linear < elements; ++linear) {
    coordinates.insert(block_coordinates(layout, rows, columns, linear));
  }
  assert_eq(coordinates.size(), checked_mul<std::size_t>(rows, columns));
  assert_that(coordinates.all_within(rows, columns),
              "coordinates.iter().all(|&(row, column)| { row < rows && column < columns })");
}

// Kept a function of its own under link-time optimization, so a profile can name its cost.
[[gnu::noinline]] void kiv_block_layouts_are_bijections() {
  for (const Configuration& configuration : configurations) {
    check_bijection(configuration);
  }
}

}  // namespace tests

// A normal return is the pass; a panic propagates to the harness as the failure.
TEST_CASE("tests::kiv_block_layouts_are_bijections") {
  tests::kiv_block_layouts_are_bijections();
  SUCCEED("returned normally");
}

// The benchmarks compile this source too, to time the test body, and bring their own entry.
#ifndef ZUM_GEMM_E2E_WITHOUT_ENTRY
int main(int argc, char* argv[]) {
  return zum_runtime::test_harness::run(argc, argv);
}
#endif

#endif
