#include "gemm_e2e_program.hpp"

#include <unistd.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "gemm/gemm.hpp"
#include "gemm/internal/driver.hpp"
#include "pack/internal/kernels.hpp"

namespace zum_gemm_e2e {
namespace {

using std::size_t;
using zum_runtime::gemm::Transpose;

constexpr int check_failed_status = 1;
constexpr int bad_input_status = 2;
constexpr size_t sampled_elements = 4096;
constexpr double progress_after_seconds = 2.0;

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

Transpose transpose(bool yes) {
  return yes ? Transpose::yes : Transpose::no;
}

// A, B and C would take more memory than the machine has: refused before allocating.
void require_memory(const Arguments& arguments, size_t element_bytes) {
  const auto product = [](size_t x, size_t y, size_t& result) {
    return !__builtin_mul_overflow(x, y, &result);
  };
  size_t a = 0, b = 0, c = 0, total = 0;
  const bool fits = product(arguments.m, arguments.k, a) && product(arguments.k, arguments.n, b) &&
                    product(arguments.m, arguments.n, c) && !__builtin_add_overflow(a, b, &total) &&
                    !__builtin_add_overflow(total, c, &total) &&
                    !__builtin_add_overflow(total, arguments.packed_b ? b : 0, &total) &&
                    product(total, element_bytes, total);
  const auto memory =
      static_cast<size_t>(sysconf(_SC_PHYS_PAGES)) * static_cast<size_t>(sysconf(_SC_PAGE_SIZE));
  if (!fits || total > memory) {
    throw UsageError{std::to_string(arguments.m) + " x " + std::to_string(arguments.n) + " x " +
                     std::to_string(arguments.k) + " " + arguments.type +
                     ": its matrices need more memory than this machine's " +
                     std::to_string(memory) + " bytes"};
  }
}

template <typename T>
std::vector<T> filled(size_t count, std::mt19937_64& generator) {
  std::uniform_real_distribution<T> value(T(-1), T(1));
  std::vector<T> values(count);
  for (T& x : values) x = value(generator);
  return values;
}

// The stored matrices, filled from the seed.
template <typename T>
struct Operands {
  std::vector<T> a, b, c;
  size_t a_row_stride, b_row_stride;

  explicit Operands(const Arguments& arguments) {
    std::mt19937_64 generator(arguments.seed);
    a = filled<T>(arguments.m * arguments.k, generator);
    b = filled<T>(arguments.k * arguments.n, generator);
    c = filled<T>(arguments.m * arguments.n, generator);
    a_row_stride = arguments.transpose_a ? arguments.m : arguments.k;
    b_row_stride = arguments.transpose_b ? arguments.k : arguments.n;
  }
};

// |c − exact| as a fraction of (k + 2) · ε · Σ |a| |b| (alpha 1, beta 0), at evenly spread
// elements of C: all of them when C has no more than sampled_elements.
template <typename T>
double largest_error_fraction(const Arguments& arguments, const Operands<T>& x, size_t& checked) {
  const size_t elements = arguments.m * arguments.n;
  checked = std::min(elements, sampled_elements);
  double largest = 0;
  for (size_t sample = 0; sample < checked; ++sample) {
    const size_t at = elements <= sampled_elements ? sample : sample * (elements / checked);
    const size_t i = at / arguments.n, j = at % arguments.n;
    long double exact = 0, magnitude = 0;
    for (size_t p = 0; p < arguments.k; ++p) {
      const T a = arguments.transpose_a ? x.a[p * x.a_row_stride + i] : x.a[i * x.a_row_stride + p];
      const T b = arguments.transpose_b ? x.b[j * x.b_row_stride + p] : x.b[p * x.b_row_stride + j];
      exact += static_cast<long double>(a) * b;
      magnitude += std::fabs(static_cast<long double>(a) * b);
    }
    const long double error = std::fabs(x.c[at] - exact);
    const long double bound =
        (arguments.k + 2) * static_cast<long double>(std::numeric_limits<T>::epsilon()) * magnitude;
    const double fraction = error == 0   ? 0.0
                            : bound == 0 ? std::numeric_limits<double>::infinity()
                                         : static_cast<double>(error / bound);
    largest = std::max(largest,
                       std::isnan(fraction) ? std::numeric_limits<double>::infinity() : fraction);
  }
  return largest;
}

// Progress on a terminal, once a run has gone on for a while.
void show_progress(unsigned done, unsigned total, double elapsed) {
  if (elapsed < progress_after_seconds || isatty(STDERR_FILENO) == 0) return;
  std::fprintf(stderr, "\rzum-gemm-e2e: run %u of %u", done, total);
  if (done == total) std::fprintf(stderr, "\n");
}

template <typename T>
Outcome run(const Arguments& arguments) {
  require_memory(arguments, sizeof(T));
  Operands<T> x(arguments);
  const zum_runtime::gemm::Options options{arguments.threads};
  const Transpose ta = transpose(arguments.transpose_a), tb = transpose(arguments.transpose_b);
  Outcome outcome;
  using Clock = std::chrono::steady_clock;
  std::optional<zum_runtime::gemm::PackedB<T>> packed;
  if (arguments.packed_b) {
    const auto start = Clock::now();
    packed.emplace(zum_runtime::gemm::pack_b<T>(tb, arguments.k, arguments.n, x.b, x.b_row_stride));
    outcome.pack_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    outcome.packed_bytes = packed->bytes();
  }
  const auto multiply = [&] {
    if (packed) {
      zum_runtime::gemm::multiply<T>(ta, arguments.m, T(1), x.a, x.a_row_stride, *packed, T(0), x.c,
                                     arguments.n, options);
    } else {
      zum_runtime::gemm::multiply<T>(ta, tb, arguments.m, arguments.n, arguments.k, T(1), x.a,
                                     x.a_row_stride, x.b, x.b_row_stride, T(0), x.c, arguments.n,
                                     options);
    }
  };
  const auto started = Clock::now();
  for (unsigned run = 0; run < arguments.repeat; ++run) {
    const auto start = Clock::now();
    multiply();
    if (run > 0) {
      outcome.timed_seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    show_progress(run + 1, arguments.repeat,
                  std::chrono::duration<double>(Clock::now() - started).count());
  }
  outcome.largest_error_fraction = largest_error_fraction(arguments, x, outcome.checked);
  zum_runtime::gemm::driver::Problem<T> problem{
      ta,   tb,  arguments.m,    arguments.n, arguments.k,
      T(1), x.a, x.a_row_stride, x.b,         x.b_row_stride,
      T(0), x.c, arguments.n};
  problem.threads = arguments.threads;
  const auto path = zum_runtime::gemm::driver::chosen_path();
  if (packed) {
    problem.packed_b.data = x.b.data();  // only marks B as packed for the description
    problem.packed_b.nr = zum_runtime::gemm::driver::packed_panel_columns<T>(arguments.n, path);
  }
  outcome.run = zum_runtime::gemm::driver::describe(problem, path);
  outcome.path = std::string(zum_runtime::blocked_data::kernels::simd_path_name(path));
  return outcome;
}

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
  return "\"" + std::string(text) + "\"";
}

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
        << ", \"median_seconds\": " << middle << ", \"gflops\": " << gflops
        << ", \"checked_elements\": " << outcome.checked
        << ", \"largest_error_fraction\": " << outcome.largest_error_fraction
        << ", \"passed\": " << (passed ? "true" : "false");
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
        << "speed: " << gflops << " GFLOPS\n"
        << "check: " << outcome.checked << " elements of C, largest error "
        << outcome.largest_error_fraction << " of its bound: " << (passed ? "passed" : "FAILED")
        << '\n';
    if (arguments.packed_b) {
      out << "packed b: " << outcome.packed_bytes << " bytes in " << outcome.pack_seconds * 1e3
          << " ms\n";
    }
  }
  std::cout << out.str();
}

void add_options(CLI::App& app, Arguments& arguments) {
  const auto positive = CLI::Range(size_t{1}, std::numeric_limits<size_t>::max());
  app.add_option("M", arguments.m, "rows of op(A) and C")->required()->check(positive);
  app.add_option("N", arguments.n, "columns of op(B) and C")->required()->check(positive);
  app.add_option("K", arguments.k, "columns of op(A), rows of op(B)")->required()->check(positive);
  app.add_option("--type", arguments.type, "element type")->check(CLI::IsMember({"f32", "f64"}));
  app.add_flag("--transpose-a", arguments.transpose_a, "A is stored K x M");
  app.add_flag("--transpose-b", arguments.transpose_b, "B is stored N x K");
  app.add_option("--threads", arguments.threads, "threads per multiply (0: every core)");
  app.add_flag("--packed-b", arguments.packed_b, "pack B once, then multiply with it");
  app.add_option("--repeat", arguments.repeat, "multiplies; the first is not timed")
      ->check(CLI::Range(2u, 1000000u));
  app.add_option("--seed", arguments.seed, "seed of A, B and C");
  app.add_flag("--json", arguments.json, "the summary as one JSON object");
}

}  // namespace

int run_program(int argc, char* argv[]) {
  CLI::App app{"Runs one GEMM end to end, checks C and reports how it went.", "zum-gemm-e2e"};
  Arguments arguments;
  add_options(app, arguments);
  try {
    app.parse(argc, argv);
    const Outcome outcome =
        arguments.type == "f64" ? run<double>(arguments) : run<float>(arguments);
    const bool passed = outcome.largest_error_fraction <= 1.0;
    print_summary(arguments, outcome, passed);
    return passed ? 0 : check_failed_status;
  } catch (const CLI::Success& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    std::cerr << "zum-gemm-e2e: " << error.what() << '\n';
    return bad_input_status;
  } catch (const UsageError& error) {
    std::cerr << "zum-gemm-e2e: " << error.message << '\n';
    return bad_input_status;
  } catch (const std::bad_alloc&) {
    std::cerr << "zum-gemm-e2e: not enough memory for the matrices\n";
    return bad_input_status;
  }
}

}  // namespace zum_gemm_e2e
