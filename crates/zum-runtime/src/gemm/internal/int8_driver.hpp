#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "gemm/internal/driver.hpp"
#include "gemm/internal/kernels/int8_tile.hpp"

// The 8-bit integer GEMM below its public entry: op(A) of unsigned or signed bytes, op(B) of
// signed bytes, exact int32 results, on AVX-512 VNNI's quads or, without it, on 16-bit pairs.
// Internal.
namespace zum_runtime::gemm::driver {

// The call's shape, strides, spans and threads; alpha is 1, beta 1 to accumulate and 0 not, and
// b's bytes are signed.
using Int8Operands = Problem<std::int32_t, std::uint8_t>;

struct Int8Problem {
  Int8Operands operands;
  kernels::int8::Values a_values;
  std::int32_t b_zero_point;
  // A packed B's column sums (quads): per slab, one word per padded column.
  const std::uint32_t* packed_column_sums = nullptr;
};

// The kernel paths, each with its form: quads on VNNI, pairs elsewhere.
enum class Int8Path : std::uint8_t { generic, avx2, avx512_vnni };
std::string_view int8_path_name(Int8Path path);
// The fastest this processor runs under ZUM_MAX_ISA.
Int8Path chosen_int8_path();
const kernels::int8::Kernels& int8_kernels(Int8Path path);

// Runs a validated problem with `kernels`, on problem.operands.threads threads.
void run_int8(const Int8Problem& problem, const kernels::int8::Kernels& kernels);
// Whether both operands are read where stored (a few rows, neither transposed, quads).
bool runs_int8_stored(const Int8Problem& problem, const kernels::int8::Kernels& kernels);
// Whether the tile reads op(A) where stored (untransposed, few columns or few rows, quads).
bool reads_int8_a_stored(const Int8Problem& problem, const kernels::int8::Kernels& kernels);
RunDescription describe_int8(const Int8Problem& problem, Int8Path path);

// A PackedB<int8_t>: each slab's panels, then (quads) each slab's column sums.
struct Int8Packing {
  std::size_t panel_columns;
  std::size_t sums_offset;  // in words
  std::size_t bytes;
};
Int8Packing int8_packing(std::size_t k, std::size_t n, const kernels::int8::Kernels& kernels);
void pack_b_whole_int8(const Int8Problem& problem, const kernels::int8::Kernels& kernels,
                       std::uint32_t* buffer);

}  // namespace zum_runtime::gemm::driver
