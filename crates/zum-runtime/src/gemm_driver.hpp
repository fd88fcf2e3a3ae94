#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "gemm.hpp"
#include "gemm_kernels.hpp"

// The GEMM below its public entry: one validated call, and the ways it can be run. Internal;
// the tests run every way on every path.
namespace zum_runtime::gemm::driver {

using kernels::SimdPath;

// One call of multiply, as its caller made it.
template <typename T>
struct Problem {
  Transpose transpose_a;
  Transpose transpose_b;
  std::size_t m;
  std::size_t n;
  std::size_t k;
  T alpha;
  std::span<const T> a;
  std::size_t a_row_stride;
  std::span<const T> b;
  std::size_t b_row_stride;
  T beta;
  std::span<T> c;
  std::size_t c_row_stride;
};

// How the operands reach the micro-kernels.
enum class Strategy : std::uint8_t {
  chosen,    // by shape, as multiply does
  blocked,   // both packed, block by block
  stored_a,  // op(A) where stored, op(B) packed
  stored,    // both where stored (op(B) untransposed only)
  sweep,     // both where stored, op(B) streamed once row by row (untransposed only)
};

// Panics, naming the call, unless the problem is one multiply accepts.
template <typename T>
void validate(const Problem<T>& problem);

// Runs a validated problem on `path` the way `strategy` says.
template <typename T>
void run(const Problem<T>& problem, SimdPath path, Strategy strategy = Strategy::chosen);

}  // namespace zum_runtime::gemm::driver
