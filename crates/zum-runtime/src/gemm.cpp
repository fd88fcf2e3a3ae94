#include "gemm.hpp"

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>

#include "gemm_driver.hpp"

namespace zum_runtime::gemm {
namespace driver {
namespace {

using std::size_t;

// ---------------------------------------------------------------------------------------------
// Refusals

struct StoredShape {
  const char* name;
  size_t rows;
  size_t columns;
  size_t row_stride;
};

template <typename T>
StoredShape stored_a(const Problem<T>& p) {
  return p.transpose_a == Transpose::no ? StoredShape{"a", p.m, p.k, p.a_row_stride}
                                        : StoredShape{"a", p.k, p.m, p.a_row_stride};
}
template <typename T>
StoredShape stored_b(const Problem<T>& p) {
  return p.transpose_b == Transpose::no ? StoredShape{"b", p.k, p.n, p.b_row_stride}
                                        : StoredShape{"b", p.n, p.k, p.b_row_stride};
}
template <typename T>
StoredShape stored_c(const Problem<T>& p) {
  return {"c", p.m, p.n, p.c_row_stride};
}

// "gemm 64 x 32 x 16: ...", or for pack_b "gemm pack_b 16 x 32: ..." (k × n).
template <typename T>
[[noreturn, gnu::cold]] void refuse(const Problem<T>& p, const std::string& reason) {
  const std::string shape =
      p.packing_b ? "pack_b " + std::to_string(p.k) + " x " + std::to_string(p.n)
                  : std::to_string(p.m) + " x " + std::to_string(p.n) + " x " + std::to_string(p.k);
  panic("gemm " + shape + ": " + reason);
}

// (rows − 1) × row_stride + columns, the elements a stored matrix spans; false on overflow.
bool extent_of(const StoredShape& shape, size_t& extent) {
  if (shape.rows == 0 || shape.columns == 0) {
    extent = 0;
    return true;
  }
  return !__builtin_mul_overflow(shape.rows - 1, shape.row_stride, &extent) &&
         !__builtin_add_overflow(extent, shape.columns, &extent);
}

template <typename T>
void require_stride(const Problem<T>& p, const StoredShape& shape) {
  if (shape.row_stride < shape.columns) {
    refuse(p, std::string(shape.name) + "_row_stride " + std::to_string(shape.row_stride) +
                  " is less than its " + std::to_string(shape.columns) + " columns");
  }
}

template <typename T, typename Element>
void require_span(const Problem<T>& p, const StoredShape& shape, std::span<Element> span) {
  size_t extent = 0;
  size_t bytes = 0;
  if (!extent_of(shape, extent) || __builtin_mul_overflow(extent, sizeof(T), &bytes)) {
    refuse(p, std::string(shape.name) + ": " + std::to_string(shape.rows) + " rows of stride " +
                  std::to_string(shape.row_stride) + " span more memory than exists");
  }
  if (span.size() < extent) {
    refuse(p, std::string(shape.name) + " holds " + std::to_string(span.size()) +
                  " elements, fewer than the " + std::to_string(extent) + " its " +
                  std::to_string(shape.rows) + " x " + std::to_string(shape.columns) +
                  " elements with row stride " + std::to_string(shape.row_stride) + " need");
  }
}

// The bytes a call touches of a stored matrix: `rows` runs of `width` bytes, `stride` apart.
struct Touched {
  std::uintptr_t start;
  size_t rows;
  size_t width;
  size_t stride;

  std::uintptr_t row_start(size_t row) const { return start + row * stride; }
};

template <typename T>
Touched touched(const StoredShape& shape, const T* data) {
  return {reinterpret_cast<std::uintptr_t>(data), shape.rows, shape.columns * sizeof(T),
          shape.row_stride * sizeof(T)};
}

// Whether some row of `y` shares a byte with [from, to).
bool meets(const Touched& y, std::uintptr_t from, std::uintptr_t to) {
  if (to <= y.start) return false;
  // The first row of y that ends after `from`.
  size_t row = 0;
  if (from >= y.start + y.width) {
    if (y.rows == 1) return false;
    row = (from - y.start - y.width) / y.stride + 1;
  }
  return row < y.rows && y.row_start(row) < to;
}

// Whether two strided regions share a byte; walks the one with fewer rows.
bool overlap(const Touched& x, const Touched& y) {
  if (x.rows == 0 || x.width == 0 || y.rows == 0 || y.width == 0) return false;
  if (x.rows > y.rows) return overlap(y, x);
  for (size_t row = 0; row < x.rows; ++row) {
    if (meets(y, x.row_start(row), x.row_start(row) + x.width)) return true;
  }
  return false;
}

template <typename T>
bool reads_operands(const Problem<T>& p) {
  return p.m != 0 && p.n != 0 && p.k != 0 && p.alpha != T{0};
}

}  // namespace

template <typename T>
void validate(const Problem<T>& p) {
  const bool packed = p.packed_b.data != nullptr;
  require_stride(p, stored_a(p));
  if (!packed) require_stride(p, stored_b(p));
  require_stride(p, stored_c(p));
  if (p.m == 0 || p.n == 0) return;
  const bool reads = reads_operands(p);
  if (reads) {
    require_span(p, stored_a(p), p.a);
    if (!packed) require_span(p, stored_b(p), p.b);
  }
  require_span(p, stored_c(p), p.c);
  if (!reads) return;
  const Touched c = touched(stored_c(p), p.c.data());
  if (overlap(c, touched(stored_a(p), p.a.data()))) refuse(p, "c overlaps a");
  if (!packed && overlap(c, touched(stored_b(p), p.b.data()))) refuse(p, "c overlaps b");
}

template <typename T>
void validate_packing(const Problem<T>& p) {
  require_stride(p, stored_b(p));
  if (p.k != 0 && p.n != 0) require_span(p, stored_b(p), p.b);
}

template void validate<float>(const Problem<float>&);
template void validate_packing<float>(const Problem<float>&);
template void validate_packing<double>(const Problem<double>&);
template void validate<double>(const Problem<double>&);

}  // namespace driver

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
