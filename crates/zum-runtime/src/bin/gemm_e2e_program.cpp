#include "gemm_e2e_program.hpp"
#include "gemm_e2e_parts.hpp"

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

#include "base/bfloat16.hpp"
#include "gemm/gemm.hpp"
#include "gemm/internal/bf16_driver.hpp"
#include "gemm/internal/driver.hpp"
#include "pack/internal/kernels.hpp"

namespace zum_gemm_e2e {
namespace {

using zum_runtime::bfloat16;
using zum_runtime::gemm::Transpose;

constexpr int check_failed_status = 1;
constexpr int bad_input_status = 2;
constexpr double progress_after_seconds = 2.0;

}  // namespace

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

namespace {

// The type of C and of the scalars: bfloat16 operands multiply into float.
template <typename T>
using Result = std::conditional_t<std::is_same_v<T, bfloat16>, float, T>;

long double value_of(bfloat16 x) {
  return zum_runtime::to_float(x);
}
long double value_of(float x) {
  return x;
}
long double value_of(double x) {
  return x;
}

// Values in [-1, 1]; bfloat16 ones rounded from random floats.
template <typename T>
std::vector<T> filled(size_t count, std::mt19937_64& generator) {
  std::uniform_real_distribution<Result<T>> value(-1, 1);
  std::vector<T> values(count);
  for (T& x : values) {
    if constexpr (std::is_same_v<T, bfloat16>) {
      x = zum_runtime::to_bfloat16(value(generator));
    } else {
      x = value(generator);
    }
  }
  return values;
}

// The stored matrices, filled from the seed.
template <typename T>
struct Operands {
  std::vector<T> a, b;
  std::vector<Result<T>> c;
  size_t a_row_stride, b_row_stride;

  explicit Operands(const Arguments& arguments) {
    std::mt19937_64 generator(arguments.seed);
    a = filled<T>(arguments.m * arguments.k, generator);
    b = filled<T>(arguments.k * arguments.n, generator);
    c = filled<Result<T>>(arguments.m * arguments.n, generator);
    a_row_stride = arguments.transpose_a ? arguments.m : arguments.k;
    b_row_stride = arguments.transpose_b ? arguments.k : arguments.n;
  }
};

// |c − exact| as a fraction of (k + 2) · ε · Σ |a| |b| (alpha 1, beta 0), at evenly spread
// elements of C: all of them when C has no more than sampled_elements. ε is C's; bfloat16
// adds (k + 2) · 2⁻¹²⁶ · 2 for the subnormals its dot products take as zero.
template <typename T>
double largest_error_fraction(const Arguments& arguments, const Operands<T>& x, size_t& checked) {
  double largest = 0;
  checked = for_each_sampled(arguments, [&](size_t i, size_t j, size_t at) {
    long double exact = 0, magnitude = 0;
    for (size_t p = 0; p < arguments.k; ++p) {
      const long double a = value_of(arguments.transpose_a ? x.a[p * x.a_row_stride + i]
                                                           : x.a[i * x.a_row_stride + p]);
      const long double b = value_of(arguments.transpose_b ? x.b[j * x.b_row_stride + p]
                                                           : x.b[p * x.b_row_stride + j]);
      exact += a * b;
      magnitude += std::fabs(a * b);
    }
    const long double error = std::fabs(x.c[at] - exact);
    const auto k2 = static_cast<long double>(arguments.k + 2);
    const long double bound =
        k2 * static_cast<long double>(std::numeric_limits<Result<T>>::epsilon()) * magnitude +
        (std::is_same_v<T, bfloat16> ? k2 * std::ldexp(1.0L, -126) * 2 : 0.0L);
    const double fraction = error == 0   ? 0.0
                            : bound == 0 ? std::numeric_limits<double>::infinity()
                                         : static_cast<double>(error / bound);
    largest = std::max(largest,
                       std::isnan(fraction) ? std::numeric_limits<double>::infinity() : fraction);
  });
  return largest;
}

// Progress on a terminal, once a run has gone on for a while.
void show_progress(unsigned done, unsigned total, double elapsed) {
  if (elapsed < progress_after_seconds || isatty(STDERR_FILENO) == 0) return;
  std::fprintf(stderr, "\rzum-gemm-e2e: run %u of %u", done, total);
  if (done == total) std::fprintf(stderr, "\n");
}

// The way the call ran and the path it ran on. The problem only stands for the call: a packed
// B is marked by pointing at the stored one.
template <typename T>
void describe(const Arguments& arguments, const Operands<T>& x, Outcome& outcome) {
  using namespace zum_runtime::gemm;
  driver::Problem<Result<T>, T> problem{transpose(arguments.transpose_a),
                                        transpose(arguments.transpose_b),
                                        arguments.m,
                                        arguments.n,
                                        arguments.k,
                                        Result<T>(1),
                                        x.a,
                                        x.a_row_stride,
                                        x.b,
                                        x.b_row_stride,
                                        Result<T>(0),
                                        {},
                                        arguments.n,
                                        arguments.threads};
  if constexpr (std::is_same_v<T, bfloat16>) {
    const driver::Bf16Path path = driver::chosen_bf16_path();
    if (arguments.packed_b) {
      problem.packed_b = {x.b.data(), 0,
                          driver::bf16_packing(arguments.k, arguments.n, path).panel_columns, 0};
    }
    outcome.run = driver::describe_bf16(problem, path);
    outcome.path = std::string(zum_runtime::bf16::bf16_path_name(path));
  } else {
    const auto path = driver::chosen_path();
    if (arguments.packed_b) {
      problem.packed_b = {x.b.data(), 0, driver::packed_panel_columns<T>(arguments.n, path), 0};
    }
    outcome.run = driver::describe(problem, path);
    outcome.path = std::string(zum_runtime::blocked_data::kernels::simd_path_name(path));
  }
}

template <typename T>
Outcome run(const Arguments& arguments) {
  require_memory(arguments, sizeof(Result<T>));
  Operands<T> x(arguments);
  const zum_runtime::gemm::Options options{arguments.threads};
  const Transpose ta = transpose(arguments.transpose_a), tb = transpose(arguments.transpose_b);
  Outcome outcome;
  using Clock = std::chrono::steady_clock;
  std::optional<zum_runtime::gemm::PackedB<T>> packed;
  const std::span<const T> a(x.a), b(x.b);
  const std::span<Result<T>> c(x.c);
  const Result<T> one(1), zero(0);
  if (arguments.packed_b) {
    const auto start = Clock::now();
    packed.emplace(zum_runtime::gemm::pack_b(tb, arguments.k, arguments.n, b, x.b_row_stride));
    outcome.pack_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    outcome.packed_bytes = packed->bytes();
  }
  const auto multiply = [&] {
    if (packed) {
      zum_runtime::gemm::multiply(ta, arguments.m, one, a, x.a_row_stride, *packed, zero, c,
                                  arguments.n, options);
    } else {
      zum_runtime::gemm::multiply(ta, tb, arguments.m, arguments.n, arguments.k, one, a,
                                  x.a_row_stride, b, x.b_row_stride, zero, c, arguments.n, options);
    }
  };
  time_runs(arguments, multiply, outcome);
  outcome.largest_error_fraction = largest_error_fraction(arguments, x, outcome.checked);
  describe(arguments, x, outcome);
  return outcome;
}

}  // namespace

void time_runs(const Arguments& arguments, const std::function<void()>& multiply,
               Outcome& outcome) {
  using Clock = std::chrono::steady_clock;
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
}

namespace {

void add_options(CLI::App& app, Arguments& arguments) {
  const auto positive = CLI::Range(size_t{1}, std::numeric_limits<size_t>::max());
  app.add_option("M", arguments.m, "rows of op(A) and C")->required()->check(positive);
  app.add_option("N", arguments.n, "columns of op(B) and C")->required()->check(positive);
  app.add_option("K", arguments.k, "columns of op(A), rows of op(B)")->required()->check(positive);
  app.add_option("--type", arguments.type, "element type")
      ->check(CLI::IsMember({"f32", "f64", "bf16", "int8", "s8"}));
  app.add_flag("--transpose-a", arguments.transpose_a, "A is stored K x M");
  app.add_flag("--transpose-b", arguments.transpose_b, "B is stored N x K");
  app.add_option("--threads", arguments.threads, "threads per multiply (0: every core)");
  app.add_flag("--packed-b", arguments.packed_b, "pack B once, then multiply with it");
  app.add_option("--repeat", arguments.repeat, "multiplies; the first is not timed")
      ->check(CLI::Range(2u, 1000000u));
  app.add_option("--seed", arguments.seed, "seed of A, B, C (and the int8 zero points)");
  app.add_flag("--json", arguments.json, "the summary as one JSON object");
}

}  // namespace

int run_program(int argc, char* argv[]) {
  CLI::App app{"Runs one GEMM end to end, checks C and reports how it went.", "zum-gemm-e2e"};
  Arguments arguments;
  add_options(app, arguments);
  try {
    app.parse(argc, argv);
    const Outcome outcome = arguments.type == "f64"    ? run<double>(arguments)
                            : arguments.type == "bf16" ? run<bfloat16>(arguments)
                            : arguments.type == "int8" ? run_int8(arguments, false)
                            : arguments.type == "s8"   ? run_int8(arguments, true)
                                                       : run<float>(arguments);
    const bool passed = outcome.exact ? outcome.wrong == 0 : outcome.largest_error_fraction <= 1.0;
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
