#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "gemm/gemm.hpp"
#include "gemm/internal/int8_driver.hpp"
#include "gemm_e2e_parts.hpp"

// The program's 8-bit integer runs: random bytes, zero points from the seed, C checked
// exactly against an int64 reference.
namespace zum_gemm_e2e {
namespace {

using namespace zum_runtime::gemm;
using Clock = std::chrono::steady_clock;

struct Int8Operands {
  std::vector<std::uint8_t> a;  // signed A's bytes are two's complement
  std::vector<std::int8_t> b;
  std::vector<std::int32_t> c;
  size_t a_row_stride, b_row_stride;
  bool signed_a;
  int a_zero, b_zero;

  Int8Operands(const Arguments& arguments, bool is_signed)
      : a(arguments.m * arguments.k),
        b(arguments.k * arguments.n),
        c(arguments.m * arguments.n),
        a_row_stride(arguments.transpose_a ? arguments.m : arguments.k),
        b_row_stride(arguments.transpose_b ? arguments.k : arguments.n),
        signed_a(is_signed) {
    std::mt19937_64 generator(arguments.seed);
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto& x : a) x = static_cast<std::uint8_t>(byte(generator));
    for (auto& x : b) x = static_cast<std::int8_t>(byte(generator) - 128);
    a_zero = byte(generator) - (signed_a ? 128 : 0);
    b_zero = byte(generator) - 128;
  }

  std::int64_t value_of_a(size_t i, size_t p, bool transposed) const {
    const std::uint8_t x = transposed ? a[p * a_row_stride + i] : a[i * a_row_stride + p];
    return (signed_a ? std::int64_t{static_cast<std::int8_t>(x)} : std::int64_t{x}) - a_zero;
  }
  std::int64_t value_of_b(size_t p, size_t j, bool transposed) const {
    return std::int64_t{transposed ? b[j * b_row_stride + p] : b[p * b_row_stride + j]} - b_zero;
  }
  std::span<const std::int8_t> signed_bytes_of_a() const {
    return {reinterpret_cast<const std::int8_t*>(a.data()), a.size()};
  }
};

// The sampled elements of C that differ from Σ (a − za)(b − zb) modulo 2³².
size_t wrong_elements(const Arguments& arguments, const Int8Operands& x, size_t& checked) {
  size_t wrong = 0;
  checked = for_each_sampled(arguments, [&](size_t i, size_t j, size_t at) {
    std::int64_t sum = 0;
    for (size_t p = 0; p < arguments.k; ++p)
      sum += x.value_of_a(i, p, arguments.transpose_a) * x.value_of_b(p, j, arguments.transpose_b);
    if (x.c[at] != static_cast<std::int32_t>(static_cast<std::uint32_t>(sum))) ++wrong;
  });
  return wrong;
}

void describe(const Arguments& arguments, const Int8Operands& x, Outcome& outcome) {
  const driver::Int8Path path = driver::chosen_int8_path();
  const driver::Int8Operands operands{transpose(arguments.transpose_a),
                                      transpose(arguments.transpose_b),
                                      arguments.m,
                                      arguments.n,
                                      arguments.k,
                                      1,
                                      x.a,
                                      x.a_row_stride,
                                      {},
                                      x.b_row_stride,
                                      0,
                                      {},
                                      arguments.n,
                                      arguments.threads};
  outcome.run = driver::describe_int8({operands, {x.signed_a, x.a_zero}, x.b_zero}, path);
  outcome.path = std::string(driver::int8_path_name(path));
  outcome.exact = true;
  outcome.a_zero_point = x.a_zero;
  outcome.b_zero_point = x.b_zero;
}

}  // namespace

Outcome run_int8(const Arguments& arguments, bool signed_a) {
  require_memory(arguments, sizeof(std::int32_t));
  Int8Operands x(arguments, signed_a);
  const Options options{arguments.threads};
  const Transpose ta = transpose(arguments.transpose_a), tb = transpose(arguments.transpose_b);
  Outcome outcome;
  std::optional<PackedB<std::int8_t>> packed;
  const std::span<const std::int8_t> b(x.b);
  const std::span<std::int32_t> c(x.c);
  const auto b_zero = static_cast<std::int8_t>(x.b_zero);
  if (arguments.packed_b) {
    const auto start = Clock::now();
    packed.emplace(pack_b(tb, arguments.k, arguments.n, b, x.b_row_stride, b_zero));
    outcome.pack_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    outcome.packed_bytes = packed->bytes();
  }
  const auto multiply_once = [&] {
    const auto m = arguments.m, n = arguments.n, k = arguments.k;
    const std::span<const std::uint8_t> a(x.a);
    const auto a_zero = static_cast<std::uint8_t>(x.a_zero);
    const auto s_zero = static_cast<std::int8_t>(x.a_zero);
    if (packed && signed_a) {
      multiply(ta, m, x.signed_bytes_of_a(), x.a_row_stride, s_zero, *packed, Accumulate::no, c, n,
               options);
    } else if (packed) {
      multiply(ta, m, a, x.a_row_stride, a_zero, *packed, Accumulate::no, c, n, options);
    } else if (signed_a) {
      multiply(ta, tb, m, n, k, x.signed_bytes_of_a(), x.a_row_stride, s_zero, b, x.b_row_stride,
               b_zero, Accumulate::no, c, n, options);
    } else {
      multiply(ta, tb, m, n, k, a, x.a_row_stride, a_zero, b, x.b_row_stride, b_zero,
               Accumulate::no, c, n, options);
    }
  };
  time_runs(arguments, multiply_once, outcome);
  outcome.wrong = wrong_elements(arguments, x, outcome.checked);
  describe(arguments, x, outcome);
  return outcome;
}

}  // namespace zum_gemm_e2e
