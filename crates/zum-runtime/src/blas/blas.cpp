// The BLAS entry points: the reference checks and quick returns, then the library's GEMM.
#include <zum_runtime/blas.h>

#include <cstdio>
#include <exception>

#include "blas/internal/column_major.hpp"
#include "blas/internal/reports.hpp"
#include "blas/internal/thread_count.hpp"

namespace zum_runtime::blas {
namespace {

template <typename T>
void gemm(const char* routine, const ColumnMajorCall<T>& call) {
  if (const int info = first_bad_argument(call); info != 0) {
    report_bad_argument(routine, info);
    return;
  }
  if (is_quick_return(call)) return;
  try {
    multiply(call, thread_count());
  } catch (const std::exception& failure) {
    // A C caller has no way to receive an exception; what the reference would leave undefined
    // (C overlapping A or B) is refused before C is written, and said here.
    std::fprintf(stderr, "zum_blas: %.5s: %s\n", routine, failure.what());
  }
}

char transpose_letter(int transpose) {
  switch (transpose) {
    case CblasNoTrans:
      return 'N';
    case CblasTrans:
      return 'T';
    case CblasConjTrans:
      return 'C';
    default:
      return '?';
  }
}

// CBLAS's own checks, numbered as xerbla_ receives them: one less than the C position
// (layout 0, TransA 1, TransB 2); -1 when they pass.
int first_bad_cblas_argument(int layout, int transa, int transb) {
  if (layout != CblasRowMajor && layout != CblasColMajor) return 0;
  if (transpose_letter(transa) == '?') return 1;
  if (transpose_letter(transb) == '?') return 2;
  return -1;
}

// After CBLAS's own checks, the Fortran routine's, on the problem a row-major call becomes
// with its operands swapped.
template <typename T>
void cblas_gemm(const char* routine, int layout, int transa, int transb, int m, int n, int k,
                T alpha, const T* a, int lda, const T* b, int ldb, T beta, T* c, int ldc) {
  const bool row_major = layout == CblasRowMajor;
  const CblasCallScope scope(row_major);
  if (const int info = first_bad_cblas_argument(layout, transa, transb); info >= 0) {
    report_bad_argument(routine, info);
    return;
  }
  const char letter_a = transpose_letter(transa);
  const char letter_b = transpose_letter(transb);
  if (row_major) {
    gemm<T>(routine, {letter_b, letter_a, n, m, k, alpha, b, ldb, a, lda, beta, c, ldc});
  } else {
    gemm<T>(routine, {letter_a, letter_b, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc});
  }
}

}  // namespace
}  // namespace zum_runtime::blas

#define ZUM_BLAS_EXPORT extern "C" __attribute__((visibility("default")))

ZUM_BLAS_EXPORT void sgemm_(const char* transa, const char* transb, const int* m, const int* n,
                            const int* k, const float* alpha, const float* a, const int* lda,
                            const float* b, const int* ldb, const float* beta, float* c,
                            const int* ldc, size_t, size_t) {
  zum_runtime::blas::current_cblas_call() = {};
  zum_runtime::blas::gemm<float>(
      "SGEMM ", {*transa, *transb, *m, *n, *k, *alpha, a, *lda, b, *ldb, *beta, c, *ldc});
}

ZUM_BLAS_EXPORT void dgemm_(const char* transa, const char* transb, const int* m, const int* n,
                            const int* k, const double* alpha, const double* a, const int* lda,
                            const double* b, const int* ldb, const double* beta, double* c,
                            const int* ldc, size_t, size_t) {
  zum_runtime::blas::current_cblas_call() = {};
  zum_runtime::blas::gemm<double>(
      "DGEMM ", {*transa, *transb, *m, *n, *k, *alpha, a, *lda, b, *ldb, *beta, c, *ldc});
}

ZUM_BLAS_EXPORT void cblas_sgemm(CBLAS_LAYOUT layout, CBLAS_TRANSPOSE transa,
                                 CBLAS_TRANSPOSE transb, int m, int n, int k, float alpha,
                                 const float* a, int lda, const float* b, int ldb, float beta,
                                 float* c, int ldc) {
  zum_runtime::blas::cblas_gemm<float>("SGEMM ", layout, transa, transb, m, n, k, alpha, a, lda, b,
                                       ldb, beta, c, ldc);
}

ZUM_BLAS_EXPORT void cblas_dgemm(CBLAS_LAYOUT layout, CBLAS_TRANSPOSE transa,
                                 CBLAS_TRANSPOSE transb, int m, int n, int k, double alpha,
                                 const double* a, int lda, const double* b, int ldb, double beta,
                                 double* c, int ldc) {
  zum_runtime::blas::cblas_gemm<double>("DGEMM ", layout, transa, transb, m, n, k, alpha, a, lda, b,
                                        ldb, beta, c, ldc);
}
