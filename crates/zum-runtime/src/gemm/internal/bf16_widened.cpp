#include <span>

#include "gemm/internal/bf16_driver.hpp"
#include "gemm/internal/block_packing.hpp"

// The widened way, for paths without AVX-512 BF16: the operands widened to float (exactly),
// then multiplied by the float kernels of the same path, so results are the float GEMM's on
// the bfloat16 values.
namespace zum_runtime::gemm::driver {
namespace {

struct Stored {
  size_t rows;
  size_t columns;
};

Stored stored(Transpose transpose, size_t rows, size_t columns) {
  return transpose == Transpose::no ? Stored{rows, columns} : Stored{columns, rows};
}

// A stored operand widened into a compact matrix, its row stride its columns, in this thread's
// workspace `slot` (2 for A, 3 for B): kept from call to call, as fresh memory cost a page
// fault every 4 KiB, more than the widening itself.
std::span<const float> widened(size_t slot, std::span<const bfloat16> x, Stored shape,
                               size_t row_stride, SimdPath path) {
  const auto to_float = bf16::conversions_of({path, false}).to_float;
  float* wide = workspace<float>(slot, shape.rows * shape.columns);
  for (size_t row = 0; row < shape.rows; ++row) {
    to_float(x.data() + row * row_stride, wide + row * shape.columns, shape.columns);
  }
  return {wide, shape.rows * shape.columns};
}

}  // namespace

Problem<float> float_problem(const Bf16Problem& p) {
  return {p.transpose_a, p.transpose_b,  p.m,      p.n, p.k, p.alpha, {}, 0, {}, 0, p.beta,
          p.c,           p.c_row_stride, p.threads};
}

void run_widened(const Bf16Problem& p, SimdPath path) {
  Problem<float> f = float_problem(p);
  const Stored a_shape = stored(p.transpose_a, p.m, p.k);
  f.a = widened(2, p.a, a_shape, p.a_row_stride, path);
  f.a_row_stride = a_shape.columns;
  if (is_packed(p)) {
    // A widened packing holds floats; the view only carries their address.
    f.packed_b = {reinterpret_cast<const float*>(static_cast<const void*>(p.packed_b.data)),
                  p.packed_b.padded_columns, p.packed_b.nr, p.packed_b.first_column};
  } else {
    const Stored b_shape = stored(p.transpose_b, p.k, p.n);
    f.b = widened(3, p.b, b_shape, p.b_row_stride, path);
    f.b_row_stride = b_shape.columns;
  }
  run(f, path);
}

size_t widened_bytes(size_t k, size_t n, SimdPath path) {
  return packed_b_elements<float>(k, n, path) * sizeof(float);
}

void pack_widened_whole(const Bf16Problem& p, SimdPath path, float* buffer) {
  Problem<float> f = float_problem(p);
  const Stored b_shape = stored(p.transpose_b, p.k, p.n);
  f.b = widened(3, p.b, b_shape, p.b_row_stride, path);
  f.b_row_stride = b_shape.columns;
  pack_b_whole(f, path, buffer);
}

}  // namespace zum_runtime::gemm::driver
