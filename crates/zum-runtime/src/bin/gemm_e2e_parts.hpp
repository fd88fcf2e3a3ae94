#pragma once

#include <cstddef>
#include <cstdint>
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
};

// Prints the summary, as text or as one JSON object.
void print_summary(const Arguments& arguments, const Outcome& outcome, bool passed);

}  // namespace zum_gemm_e2e
