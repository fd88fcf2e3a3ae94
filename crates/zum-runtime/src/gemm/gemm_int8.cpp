#include <cstdint>

#include "gemm/gemm.hpp"
#include "gemm/internal/int8_driver.hpp"
#include "gemm/internal/packed_access.hpp"

// The 8-bit integer entry points. Signed bytes are read as bytes and told signed by their
// Values; B's always are.
namespace zum_runtime::gemm {
namespace {

using detail::PackedAccess;
using kernels::int8::Values;

std::span<const std::uint8_t> bytes_of(std::span<const std::int8_t> values) {
  return {reinterpret_cast<const std::uint8_t*>(values.data()), values.size()};
}

void run(const driver::Int8Problem& problem, driver::Int8Path path) {
  driver::validate(problem.operands);
  driver::run_int8(problem, driver::int8_kernels(path));
}

void multiply_bytes(Transpose transpose_a, Transpose transpose_b, std::size_t m, std::size_t n,
                    std::size_t k, std::span<const std::uint8_t> a, std::size_t a_row_stride,
                    Values a_values, std::span<const std::int8_t> b, std::size_t b_row_stride,
                    std::int8_t b_zero_point, Accumulate accumulate, std::span<std::int32_t> c,
                    std::size_t c_row_stride, Options options) {
  const driver::Int8Operands operands{transpose_a,
                                      transpose_b,
                                      m,
                                      n,
                                      k,
                                      1,
                                      a,
                                      a_row_stride,
                                      bytes_of(b),
                                      b_row_stride,
                                      accumulate == Accumulate::yes,
                                      c,
                                      c_row_stride,
                                      options.threads};
  run({operands, a_values, b_zero_point}, driver::chosen_int8_path());
}

}  // namespace

void multiply(Transpose transpose_a, Transpose transpose_b, std::size_t m, std::size_t n,
              std::size_t k, std::span<const std::uint8_t> a, std::size_t a_row_stride,
              std::uint8_t a_zero_point, std::span<const std::int8_t> b, std::size_t b_row_stride,
              std::int8_t b_zero_point, Accumulate accumulate, std::span<std::int32_t> c,
              std::size_t c_row_stride, Options options) {
  multiply_bytes(transpose_a, transpose_b, m, n, k, a, a_row_stride, {false, a_zero_point}, b,
                 b_row_stride, b_zero_point, accumulate, c, c_row_stride, options);
}

void multiply(Transpose transpose_a, Transpose transpose_b, std::size_t m, std::size_t n,
              std::size_t k, std::span<const std::int8_t> a, std::size_t a_row_stride,
              std::int8_t a_zero_point, std::span<const std::int8_t> b, std::size_t b_row_stride,
              std::int8_t b_zero_point, Accumulate accumulate, std::span<std::int32_t> c,
              std::size_t c_row_stride, Options options) {
  multiply_bytes(transpose_a, transpose_b, m, n, k, bytes_of(a), a_row_stride, {true, a_zero_point},
                 b, b_row_stride, b_zero_point, accumulate, c, c_row_stride, options);
}

PackedB<std::int8_t> pack_b(Transpose transpose_b, std::size_t k, std::size_t n,
                            std::span<const std::int8_t> b, std::size_t b_row_stride,
                            std::int8_t b_zero_point) {
  const driver::Int8Operands operands{Transpose::no, transpose_b,  1, n,  k, 1, {}, k,
                                      bytes_of(b),   b_row_stride, 0, {}, n};
  return PackedAccess::pack({operands, {false, 0}, b_zero_point});
}

void multiply(Transpose transpose_a, std::size_t m, std::span<const std::uint8_t> a,
              std::size_t a_row_stride, std::uint8_t a_zero_point, const PackedB<std::int8_t>& b,
              Accumulate accumulate, std::span<std::int32_t> c, std::size_t c_row_stride,
              Options options) {
  run(PackedAccess::problem(transpose_a, m, a, a_row_stride, {false, a_zero_point}, b, accumulate,
                            c, c_row_stride, options),
      PackedAccess::path_of(b));
}

void multiply(Transpose transpose_a, std::size_t m, std::span<const std::int8_t> a,
              std::size_t a_row_stride, std::int8_t a_zero_point, const PackedB<std::int8_t>& b,
              Accumulate accumulate, std::span<std::int32_t> c, std::size_t c_row_stride,
              Options options) {
  run(PackedAccess::problem(transpose_a, m, bytes_of(a), a_row_stride, {true, a_zero_point}, b,
                            accumulate, c, c_row_stride, options),
      PackedAccess::path_of(b));
}

}  // namespace zum_runtime::gemm
