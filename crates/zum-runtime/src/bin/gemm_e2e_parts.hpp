#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gemm/internal/driver.hpp"

// The parts of the zum_gemm_e2e program: its arguments, what a run found, and its summary
// (gemm_e2e_summary.cpp). Internal to the program.
namespace zum_gemm_e2e {

using std::size_t;

struct UsageError {
  std::string message;
};

struct Arguments {
  size_t m = 0, n = 0, k = 0;
  std::string type = "f32";
  bool transpose_a = false, transpose_b = false, packed_b = false, json = false;
  unsigned threads = 1;
  unsigned repeat = 5;
  std::uint64_t seed = 1;
};

// What a run found, for the summary.
struct Outcome {
  zum_runtime::gemm::driver::RunDescription run;
  std::string path;
  std::vector<double> timed_seconds;
  size_t checked = 0;
  double largest_error_fraction = 0;
  double pack_seconds = 0;
  size_t packed_bytes = 0;
  // Integer types are checked exactly: how many checked elements differ, and the zero points.
  bool exact = false;
  size_t wrong = 0;
  int a_zero_point = 0, b_zero_point = 0;
};

// A, B and C (of element_bytes each) would take more memory than the machine has: refused
// before allocating, with a UsageError.
void require_memory(const Arguments& arguments, size_t element_bytes);

// The 8-bit integer runs (gemm_e2e_int8.cpp): unsigned or signed A, signed B, int32 C.
Outcome run_int8(const Arguments& arguments, bool signed_a);

inline zum_runtime::gemm::Transpose transpose(bool yes) {
  return yes ? zum_runtime::gemm::Transpose::yes : zum_runtime::gemm::Transpose::no;
}

// The elements of C a run checks: all of them up to 4,096, else 4,096 spread evenly. Calls
// check(i, j, at) for each, at = i · n + j, and returns how many it checked.
template <typename Check>
size_t for_each_sampled(const Arguments& arguments, Check check) {
  constexpr size_t sampled_elements = 4096;
  const size_t elements = arguments.m * arguments.n;
  const size_t checked = std::min(elements, sampled_elements);
  for (size_t sample = 0; sample < checked; ++sample) {
    const size_t at = elements <= sampled_elements ? sample : sample * (elements / checked);
    check(at / arguments.n, at % arguments.n, at);
  }
  return checked;
}

// Runs `multiply` arguments.repeat times, the first untimed, into outcome.timed_seconds,
// showing progress on a terminal once the runs have gone on for a while.
void time_runs(const Arguments& arguments, const std::function<void()>& multiply, Outcome& outcome);

// Prints the summary, as text or as one JSON object.
void print_summary(const Arguments& arguments, const Outcome& outcome, bool passed);

}  // namespace zum_gemm_e2e
