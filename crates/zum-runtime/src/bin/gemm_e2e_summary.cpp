#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "gemm_e2e_parts.hpp"

namespace zum_gemm_e2e {
namespace {

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string tile_text(const Outcome& outcome) {
  if (outcome.run.tile_rows == 0) return "none";
  return std::to_string(outcome.run.tile_rows) + " x " + std::to_string(outcome.run.tile_columns);
}

std::string json_string(std::string_view text) {
  std::string quoted(1, '"');  // built up: g++ 12 warns falsely (-Wrestrict) on "\"" + text
  quoted.append(text).push_back('"');
  return quoted;
}

}  // namespace

void print_summary(const Arguments& arguments, const Outcome& outcome, bool passed) {
  const double best = *std::min_element(outcome.timed_seconds.begin(), outcome.timed_seconds.end());
  const double middle = median(outcome.timed_seconds);
  const double gflops =
      2.0 * double(arguments.m) * double(arguments.n) * double(arguments.k) / middle / 1e9;
  std::ostringstream out;
  if (arguments.json) {
    out << "{\"m\": " << arguments.m << ", \"n\": " << arguments.n << ", \"k\": " << arguments.k
        << ", \"type\": " << json_string(arguments.type)
        << ", \"transpose_a\": " << (arguments.transpose_a ? "true" : "false")
        << ", \"transpose_b\": " << (arguments.transpose_b ? "true" : "false")
        << ", \"threads\": " << arguments.threads << ", \"threads_used\": " << outcome.run.threads
        << ", \"path\": " << json_string(outcome.path)
        << ", \"way\": " << json_string(outcome.run.way)
        << ", \"a_layout\": " << json_string(outcome.run.a_layout)
        << ", \"b_layout\": " << json_string(outcome.run.b_layout)
        << ", \"tile\": " << json_string(tile_text(outcome))
        << ", \"runs\": " << outcome.timed_seconds.size() << ", \"best_seconds\": " << best
        << ", \"median_seconds\": " << middle << (outcome.exact ? ", \"gops\": " : ", \"gflops\": ")
        << gflops << ", \"checked_elements\": " << outcome.checked;
    if (outcome.exact) {
      out << ", \"a_zero_point\": " << outcome.a_zero_point
          << ", \"b_zero_point\": " << outcome.b_zero_point
          << ", \"wrong_elements\": " << outcome.wrong;
    } else {
      out << ", \"largest_error_fraction\": " << outcome.largest_error_fraction;
    }
    out << ", \"passed\": " << (passed ? "true" : "false");
    if (arguments.packed_b) {
      out << ", \"pack_seconds\": " << outcome.pack_seconds
          << ", \"packed_bytes\": " << outcome.packed_bytes;
    }
    out << "}\n";
  } else {
    out << "gemm " << arguments.m << " x " << arguments.n << " x " << arguments.k << ' '
        << arguments.type << (arguments.transpose_a ? ", A transposed" : "")
        << (arguments.transpose_b ? ", B transposed" : "") << ", threads " << arguments.threads
        << " (" << outcome.run.threads << " used)\n"
        << "kernel: " << outcome.path << " path, " << outcome.run.way << ", A "
        << outcome.run.a_layout << ", B " << outcome.run.b_layout << ", tile " << tile_text(outcome)
        << '\n'
        << "time: best " << best * 1e3 << " ms, median " << middle * 1e3 << " ms over "
        << outcome.timed_seconds.size() << " runs\n"
        << "speed: " << gflops << (outcome.exact ? " GOPS\n" : " GFLOPS\n");
    if (outcome.exact) {
      out << "zero points: a " << outcome.a_zero_point << ", b " << outcome.b_zero_point << '\n'
          << "check: " << outcome.checked << " elements of C against an int64 reference, "
          << outcome.wrong << " differ: " << (passed ? "passed" : "FAILED") << '\n';
    } else {
      out << "check: " << outcome.checked << " elements of C, largest error "
          << outcome.largest_error_fraction << " of its bound: " << (passed ? "passed" : "FAILED")
          << '\n';
    }
    if (arguments.packed_b) {
      out << "packed b: " << outcome.packed_bytes << " bytes in " << outcome.pack_seconds * 1e3
          << " ms\n";
    }
  }
  std::cout << out.str();
}

}  // namespace zum_gemm_e2e
