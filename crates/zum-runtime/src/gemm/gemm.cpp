#include "gemm/gemm.hpp"

#include "gemm/internal/driver.hpp"
#include "gemm/internal/packed_access.hpp"

namespace zum_runtime::gemm {

namespace {

template <typename T>
void multiply_checked(const driver::Problem<T>& problem) {
  driver::validate(problem);
  driver::run(problem, driver::chosen_path());
}

}  // namespace

namespace detail {

void multiply_f32(Transpose transpose_a, Transpose transpose_b, std::size_t m, std::size_t n,
                  std::size_t k, float alpha, std::span<const float> a, std::size_t a_row_stride,
                  std::span<const float> b, std::size_t b_row_stride, float beta,
                  std::span<float> c, std::size_t c_row_stride, Options options) {
  multiply_checked<float>({transpose_a, transpose_b, m, n, k, alpha, a, a_row_stride, b,
                           b_row_stride, beta, c, c_row_stride, options.threads});
}

void multiply_f64(Transpose transpose_a, Transpose transpose_b, std::size_t m, std::size_t n,
                  std::size_t k, double alpha, std::span<const double> a, std::size_t a_row_stride,
                  std::span<const double> b, std::size_t b_row_stride, double beta,
                  std::span<double> c, std::size_t c_row_stride, Options options) {
  multiply_checked<double>({transpose_a, transpose_b, m, n, k, alpha, a, a_row_stride, b,
                            b_row_stride, beta, c, c_row_stride, options.threads});
}

PackedB<float> pack_b_f32(Transpose transpose_b, std::size_t k, std::size_t n,
                          std::span<const float> b, std::size_t b_row_stride) {
  return PackedAccess::pack<float, float>(
      {Transpose::no, transpose_b, 1, n, k, 1.0f, {}, k, b, b_row_stride, 0.0f, {}, n});
}

PackedB<double> pack_b_f64(Transpose transpose_b, std::size_t k, std::size_t n,
                           std::span<const double> b, std::size_t b_row_stride) {
  return PackedAccess::pack<double, double>(
      {Transpose::no, transpose_b, 1, n, k, 1.0, {}, k, b, b_row_stride, 0.0, {}, n});
}

void multiply_packed_f32(Transpose transpose_a, std::size_t m, float alpha,
                         std::span<const float> a, std::size_t a_row_stride,
                         const PackedB<float>& b, float beta, std::span<float> c,
                         std::size_t c_row_stride, Options options) {
  multiply_checked(PackedAccess::problem(transpose_a, m, alpha, a, a_row_stride, b, beta, c,
                                         c_row_stride, options));
}

void multiply_packed_f64(Transpose transpose_a, std::size_t m, double alpha,
                         std::span<const double> a, std::size_t a_row_stride,
                         const PackedB<double>& b, double beta, std::span<double> c,
                         std::size_t c_row_stride, Options options) {
  multiply_checked(PackedAccess::problem(transpose_a, m, alpha, a, a_row_stride, b, beta, c,
                                         c_row_stride, options));
}

}  // namespace detail
}  // namespace zum_runtime::gemm
