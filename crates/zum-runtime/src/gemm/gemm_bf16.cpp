#include "gemm/gemm.hpp"
#include "gemm/internal/bf16_driver.hpp"
#include "gemm/internal/packed_access.hpp"

// The bfloat16 entry points.
namespace zum_runtime::gemm {

using detail::PackedAccess;

void multiply(Transpose transpose_a, Transpose transpose_b, std::size_t m, std::size_t n,
              std::size_t k, float alpha, std::span<const bfloat16> a, std::size_t a_row_stride,
              std::span<const bfloat16> b, std::size_t b_row_stride, float beta, std::span<float> c,
              std::size_t c_row_stride, Options options) {
  const driver::Bf16Problem problem{
      transpose_a,  transpose_b,    m, n, k, alpha, a, a_row_stride, b, b_row_stride, beta, c,
      c_row_stride, options.threads};
  driver::validate(problem);
  driver::run_bf16(problem, driver::chosen_bf16_path());
}

PackedB<bfloat16> pack_b(Transpose transpose_b, std::size_t k, std::size_t n,
                         std::span<const bfloat16> b, std::size_t b_row_stride) {
  return PackedAccess::pack<float, bfloat16>(
      {Transpose::no, transpose_b, 1, n, k, 1.0f, {}, k, b, b_row_stride, 0.0f, {}, n});
}

void multiply(Transpose transpose_a, std::size_t m, float alpha, std::span<const bfloat16> a,
              std::size_t a_row_stride, const PackedB<bfloat16>& b, float beta, std::span<float> c,
              std::size_t c_row_stride, Options options) {
  const driver::Bf16Problem problem = PackedAccess::problem<float, bfloat16>(
      transpose_a, m, alpha, a, a_row_stride, b, beta, c, c_row_stride, options);
  driver::validate(problem);
  driver::run_bf16(problem, driver::chosen_bf16_path());
}

}  // namespace zum_runtime::gemm
