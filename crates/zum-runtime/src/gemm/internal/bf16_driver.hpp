#pragma once

#include <cstddef>
#include <cstdint>

#include "base/internal/bfloat16_paths.hpp"
#include "gemm/internal/driver.hpp"

// The bfloat16 GEMM below its public entry: bfloat16 operands into float results, run on the
// AVX-512 BF16 dot products (bf16_dot_products.cpp) or, on a path without them, widened to
// float and multiplied by the float kernels (bf16_widened.cpp). Internal.
namespace zum_runtime::gemm::driver {

using Bf16Problem = Problem<float, bfloat16>;
using bf16::Bf16Path;

// The path the bfloat16 multiply runs on: the fastest this processor has.
Bf16Path chosen_bf16_path();

// Runs a validated problem on `path`, on problem.threads threads.
void run_bf16(const Bf16Problem& problem, Bf16Path path);

// How run_bf16 runs a problem on `path`: the dot products' way, or the float way it widens to.
RunDescription describe_bf16(const Bf16Problem& problem, Bf16Path path);

// How a PackedB<bfloat16> holds op(B): the dot products' pair panels, or widened to float in
// the float kernels' packing. A problem with packed_b set reads that form; for the widened
// one its data points at floats.
enum class Bf16PackedForm : std::uint8_t { pair_panels, widened };
struct Bf16Packing {
  Bf16PackedForm form;
  std::size_t panel_columns;
  std::size_t bytes;
};
Bf16Packing bf16_packing(std::size_t k, std::size_t n, Bf16Path path);
// Packs op(B) of a validated problem whole, as run_bf16 reads it on `path`.
void pack_b_whole_bf16(const Bf16Problem& problem, Bf16Path path, void* buffer);

// The parts of the dot-product way (bf16_dot_products.cpp) and of the widened one.
void run_dot_products(const Bf16Problem& problem);
// Whether the dot products read both operands where stored (a few rows, B untransposed).
bool runs_stored(const Bf16Problem& problem);
void pack_pair_panels_whole(const Bf16Problem& problem, std::uint32_t* buffer);
std::size_t pair_panels_bytes(std::size_t k, std::size_t n);
void run_widened(const Bf16Problem& problem, SimdPath path);
// The float problem the widened way runs: the call's shape, scalars and C, no operands yet.
Problem<float> float_problem(const Bf16Problem& problem);
std::size_t widened_bytes(std::size_t k, std::size_t n, SimdPath path);
void pack_widened_whole(const Bf16Problem& problem, SimdPath path, float* buffer);

}  // namespace zum_runtime::gemm::driver
