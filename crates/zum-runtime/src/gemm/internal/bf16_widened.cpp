#include <memory>
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

// This thread's buffer `slot` (0 for A, 1 for B), grown to at least `count` floats and kept:
// fresh memory for every call cost a page fault every 4 KiB, more than the widening itself.
float* widening_buffer(size_t slot, size_t count) {
  thread_local std::unique_ptr<float[]> buffers[2];
  thread_local size_t sizes[2] = {0, 0};
  if (sizes[slot] < count) {
    buffers[slot].reset();
    buffers[slot].reset(new float[count]);
    sizes[slot] = count;
  }
  return buffers[slot].get();
}

// A stored operand widened into a compact matrix in buffer `slot`, its row stride its columns.
std::span<const float> widened(size_t slot, std::span<const bfloat16> x, Stored shape,
                               size_t row_stride, SimdPath path) {
  const auto to_float = bf16::conversions_of({path, false}).to_float;
  float* wide = widening_buffer(slot, shape.rows * shape.columns);
  for (size_t row = 0; row < shape.rows; ++row) {
    to_float(x.data() + row * row_stride, wide + row * shape.columns, shape.columns);
  }
  return {wide, shape.rows * shape.columns};
}

Problem<float> float_problem(const Bf16Problem& p) {
  return {p.transpose_a, p.transpose_b,  p.m,      p.n, p.k, p.alpha, {}, 0, {}, 0, p.beta,
          p.c,           p.c_row_stride, p.threads};
}

}  // namespace

void run_widened(const Bf16Problem& p, SimdPath path) {
  Problem<float> f = float_problem(p);
  const Stored a_shape = stored(p.transpose_a, p.m, p.k);
  f.a = widened(0, p.a, a_shape, p.a_row_stride, path);
  f.a_row_stride = a_shape.columns;
  if (is_packed(p)) {
    // A widened packing holds floats; the view only carries their address.
    f.packed_b = {reinterpret_cast<const float*>(static_cast<const void*>(p.packed_b.data)),
                  p.packed_b.padded_columns, p.packed_b.nr, p.packed_b.first_column};
  } else {
    const Stored b_shape = stored(p.transpose_b, p.k, p.n);
    f.b = widened(1, p.b, b_shape, p.b_row_stride, path);
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
  f.b = widened(1, p.b, b_shape, p.b_row_stride, path);
  f.b_row_stride = b_shape.columns;
  pack_b_whole(f, path, buffer);
}

}  // namespace zum_runtime::gemm::driver
