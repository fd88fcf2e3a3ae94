#include "blas/internal/column_major.hpp"

#include <algorithm>
#include <span>

#include "gemm/gemm.hpp"

namespace zum_runtime::blas {
namespace {

using gemm::Transpose;

bool is_transpose_letter(char letter) {
  return letter == 'N' || letter == 'n' || letter == 'T' || letter == 't' || letter == 'C' ||
         letter == 'c';
}

// Real matrices: 'C' (conjugate transpose) is the transpose.
bool transposes(char letter) {
  return letter != 'N' && letter != 'n';
}

Transpose transpose_of(char letter) {
  return transposes(letter) ? Transpose::yes : Transpose::no;
}

}  // namespace

std::size_t stored_extent(int rows, int columns, int ld) {
  if (rows <= 0 || columns <= 0) return 0;
  // Column-major: `columns` runs of `rows` elements, `ld` apart; 64-bit, past 2³¹ elements.
  return (static_cast<std::size_t>(columns) - 1) * static_cast<std::size_t>(ld) +
         static_cast<std::size_t>(rows);
}

template <typename T>
int first_bad_argument(const ColumnMajorCall<T>& call) {
  const int rows_of_a = transposes(call.transa) ? call.k : call.m;
  const int rows_of_b = transposes(call.transb) ? call.n : call.k;
  if (!is_transpose_letter(call.transa)) return 1;
  if (!is_transpose_letter(call.transb)) return 2;
  if (call.m < 0) return 3;
  if (call.n < 0) return 4;
  if (call.k < 0) return 5;
  if (call.lda < std::max(1, rows_of_a)) return 8;
  if (call.ldb < std::max(1, rows_of_b)) return 10;
  if (call.ldc < std::max(1, call.m)) return 13;
  return 0;
}

template <typename T>
bool is_quick_return(const ColumnMajorCall<T>& call) {
  return call.m == 0 || call.n == 0 || ((call.alpha == T{0} || call.k == 0) && call.beta == T{1});
}

template <typename T>
void multiply(const ColumnMajorCall<T>& call, unsigned threads) {
  // Stored column-major, op(B) is read row-major as op(B)^T, op(A) as op(A)^T and C as C^T:
  // the row-major problem n × m × k with the operands' roles swapped.
  const bool reads_operands = call.k != 0 && call.alpha != T{0};
  const int rows_of_a = transposes(call.transa) ? call.k : call.m;
  const int columns_of_a = transposes(call.transa) ? call.m : call.k;
  const int rows_of_b = transposes(call.transb) ? call.n : call.k;
  const int columns_of_b = transposes(call.transb) ? call.k : call.n;
  const auto operand = [&](const T* data, int rows, int columns, int ld) {
    return reads_operands ? std::span<const T>(data, stored_extent(rows, columns, ld))
                          : std::span<const T>();
  };
  gemm::multiply(
      transpose_of(call.transb), transpose_of(call.transa), static_cast<std::size_t>(call.n),
      static_cast<std::size_t>(call.m), static_cast<std::size_t>(call.k), call.alpha,
      operand(call.b, rows_of_b, columns_of_b, call.ldb), static_cast<std::size_t>(call.ldb),
      operand(call.a, rows_of_a, columns_of_a, call.lda), static_cast<std::size_t>(call.lda),
      call.beta, std::span<T>(call.c, stored_extent(call.m, call.n, call.ldc)),
      static_cast<std::size_t>(call.ldc), gemm::Options{threads});
}

#define ZUM_INSTANTIATE(T)                                       \
  template int first_bad_argument<T>(const ColumnMajorCall<T>&); \
  template bool is_quick_return<T>(const ColumnMajorCall<T>&);   \
  template void multiply<T>(const ColumnMajorCall<T>&, unsigned);
ZUM_INSTANTIATE(float)
ZUM_INSTANTIATE(double)
#undef ZUM_INSTANTIATE

}  // namespace zum_runtime::blas
