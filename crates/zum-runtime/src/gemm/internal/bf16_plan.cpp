#include "gemm/internal/bf16_driver.hpp"
#include "gemm/internal/block_packing.hpp"
#include "gemm/internal/kernels/bf16_dot_tile.hpp"
#include "gemm/internal/threads.hpp"

// Which way a bfloat16 problem runs: the dot products where the path has them, else widened.
namespace zum_runtime::gemm::driver {

Bf16Path chosen_bf16_path() {
  static const Bf16Path path = simd::processor_has_bf16_dot_products()
                                   ? Bf16Path{SimdPath::avx512, true}
                                   : Bf16Path{chosen_path(), false};
  return path;
}

void run_bf16(const Bf16Problem& p, Bf16Path path) {
  if (p.m == 0 || p.n == 0) return;
  if (p.k == 0 || p.alpha == 0.0f) {
    scale(kernels::Output<float>{p.c.data(), p.c_row_stride, p.m, p.n, p.alpha, p.beta});
    return;
  }
  if (path.bf16_instructions) return run_dot_products(p);
  run_widened(p, path.simd);
}

RunDescription describe_bf16(const Bf16Problem& p, Bf16Path path) {
  if (!path.bf16_instructions) {
    Problem<float> f = float_problem(p);
    f.packed_b = {reinterpret_cast<const float*>(static_cast<const void*>(p.packed_b.data)),
                  p.packed_b.padded_columns, p.packed_b.nr, 0};
    return describe(f, path.simd);
  }
  const auto parts = static_cast<unsigned>(part_count(p, threads_asked(p.threads)));
  return {"dot products",        "pair panels",         "pair panels",
          kernels::bf16_dot::mr, kernels::bf16_dot::nr, parts};
}

Bf16Packing bf16_packing(size_t k, size_t n, Bf16Path path) {
  if (path.bf16_instructions) {
    return {Bf16PackedForm::pair_panels, kernels::bf16_dot::nr, pair_panels_bytes(k, n)};
  }
  return {Bf16PackedForm::widened, packed_panel_columns<float>(n, path.simd),
          widened_bytes(k, n, path.simd)};
}

void pack_b_whole_bf16(const Bf16Problem& p, Bf16Path path, void* buffer) {
  if (path.bf16_instructions) {
    return pack_pair_panels_whole(p, static_cast<std::uint32_t*>(buffer));
  }
  pack_widened_whole(p, path.simd, static_cast<float*>(buffer));
}

}  // namespace zum_runtime::gemm::driver
