#include "gemm/gemm.hpp"

#include <algorithm>
#include <new>
#include <string>

#include "gemm/internal/driver.hpp"

namespace zum_runtime::gemm {

// Builds PackedB and reads it for the packed multiply.
namespace detail {

struct PackedAccess {
  template <typename T>
  static PackedB<T> pack(driver::Problem<T> problem) {
    problem.packing_b = true;
    driver::validate_packing(problem);
    const auto path = driver::chosen_path();
    PackedB<T> packed;
    packed.k_ = problem.k;
    packed.n_ = problem.n;
    packed.transpose_b_ = problem.transpose_b;
    packed.panel_columns_ = driver::packed_panel_columns<T>(problem.n, path);
    const std::size_t elements = driver::packed_b_elements<T>(problem.k, problem.n, path);
    packed.bytes_ = elements * sizeof(T);
    packed.elements_.reset(static_cast<T*>(
        ::operator new[](std::max<std::size_t>(packed.bytes_, 1), std::align_val_t{64})));
    if (problem.k != 0 && problem.n != 0)
      driver::pack_b_whole(problem, path, packed.elements_.get());
    packed.valid_ = true;
    return packed;
  }

  // The one-shot problem the packed multiply stands for, reading B from its packing.
  template <typename T>
  static driver::Problem<T> problem(Transpose transpose_a, std::size_t m, T alpha,
                                    std::span<const T> a, std::size_t a_row_stride,
                                    const PackedB<T>& b, T beta, std::span<T> c,
                                    std::size_t c_row_stride, Options options) {
    if (!b.valid_) {
      panic("gemm " + std::to_string(m) + " x " + std::to_string(b.n_) + " x " +
            std::to_string(b.k_) + ": the packed b was moved from");
    }
    driver::Problem<T> p{transpose_a, b.transpose_b_, m,  b.n_, b.k_, alpha,
                         a,           a_row_stride,   {}, b.n_, beta, c,
                         c_row_stride};
    p.threads = options.threads;
    p.packed_b = {b.elements_.get(), kernels::round_up(b.n_, b.panel_columns_), b.panel_columns_,
                  0};
    return p;
  }
};

}  // namespace detail

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
  return PackedAccess::pack<float>(
      {Transpose::no, transpose_b, 1, n, k, 1.0f, {}, k, b, b_row_stride, 0.0f, {}, n});
}

PackedB<double> pack_b_f64(Transpose transpose_b, std::size_t k, std::size_t n,
                           std::span<const double> b, std::size_t b_row_stride) {
  return PackedAccess::pack<double>(
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
