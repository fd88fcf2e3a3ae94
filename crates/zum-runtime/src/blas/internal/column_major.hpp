#pragma once

#include <cstddef>

// A BLAS call as the reference routine states it (column-major, 32-bit sizes), its checks, and
// the library's row-major problem it is.
namespace zum_runtime::blas {

template <typename T>
struct ColumnMajorCall {
  char transa;
  char transb;
  int m;
  int n;
  int k;
  T alpha;
  const T* a;
  int lda;
  const T* b;
  int ldb;
  T beta;
  T* c;
  int ldc;
};

// The number of the first argument the reference routine refuses, in its order (TRANSA 1,
// TRANSB 2, M 3, N 4, K 5, LDA 8, LDB 10, LDC 13); 0 when every argument is good.
template <typename T>
int first_bad_argument(const ColumnMajorCall<T>& call);

// Whether the reference routine returns without touching C: no element of C, or C ← 1 · C.
template <typename T>
bool is_quick_return(const ColumnMajorCall<T>& call);

// Multiplies a call whose arguments are good: C^T = op(B)^T · op(A)^T, row-major, on the
// library's own kernels, straight into the caller's C.
template <typename T>
void multiply(const ColumnMajorCall<T>& call, unsigned threads);

// The elements a column-major matrix of `rows` × `columns` with leading dimension `ld` spans.
std::size_t stored_extent(int rows, int columns, int ld);

}  // namespace zum_runtime::blas
