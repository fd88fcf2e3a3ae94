/* zum_runtime's GEMM as a BLAS: the reference Fortran and CBLAS entry points of SGEMM and DGEMM
 * with their 32-bit integers, and the library's thread control. Plain C (C99 or later) and C++.
 *
 * Link with -lzum_blas, from C (cc ... -lzum_blas), C++ or Fortran (gfortran ... -lzum_blas);
 * or preload libzum_blas.so.0 under a program that already calls a BLAS.
 *
 * Threads: ZUM_NUM_THREADS, else OMP_NUM_THREADS (its first value), else every core the process
 * may run on, read at the first call; zum_blas_set_num_threads changes it. Results are
 * bit-identical whatever the count.
 *
 * Bad arguments are reported through xerbla_, in the reference order and numbering, and the
 * call returns with C untouched. The library's own xerbla_ prints the reference message to
 * stderr and returns (it never ends the process); a program that defines xerbla_ gets the
 * calls instead. A CBLAS call's report names the C routine and its argument position
 * ("Parameter 9 to routine cblas_sgemm was incorrect").
 *
 * With <cblas.h> as well, include this header after it: the enumerations are the same. */
#ifndef ZUM_RUNTIME_BLAS_H
#define ZUM_RUNTIME_BLAS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#define ZUM_BLAS_INT_ENUM : int /* any int a C caller passes is a value of the type */
#else
#define ZUM_BLAS_INT_ENUM
#endif

#ifndef CBLAS_H
typedef enum CBLAS_LAYOUT ZUM_BLAS_INT_ENUM { CblasRowMajor = 101, CblasColMajor = 102 } CBLAS_LAYOUT;
typedef enum CBLAS_TRANSPOSE ZUM_BLAS_INT_ENUM {
  CblasNoTrans = 111,
  CblasTrans = 112,
  CblasConjTrans = 113
} CBLAS_TRANSPOSE;
#define CBLAS_ORDER CBLAS_LAYOUT
#endif

/* Column-major, every argument by reference; TRANSA and TRANSB are 'N', 'T' or 'C' in either
 * case, and the two trailing lengths are the ones gfortran passes for them (never read). */
void sgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const float* alpha, const float* a, const int* lda, const float* b, const int* ldb,
            const float* beta, float* c, const int* ldc, size_t transa_length,
            size_t transb_length);
void dgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const double* alpha, const double* a, const int* lda, const double* b, const int* ldb,
            const double* beta, double* c, const int* ldc, size_t transa_length,
            size_t transb_length);

void cblas_sgemm(CBLAS_LAYOUT layout, CBLAS_TRANSPOSE transa, CBLAS_TRANSPOSE transb, int m,
                 int n, int k, float alpha, const float* a, int lda, const float* b, int ldb,
                 float beta, float* c, int ldc);
void cblas_dgemm(CBLAS_LAYOUT layout, CBLAS_TRANSPOSE transa, CBLAS_TRANSPOSE transb, int m,
                 int n, int k, double alpha, const double* a, int lda, const double* b, int ldb,
                 double beta, double* c, int ldc);

/* The reference error handler: routine is the 6-character name ("SGEMM "), info the number of
 * the bad argument. Define it in a program to receive the reports. */
void xerbla_(const char* routine, const int* info, size_t routine_length);

/* A count below 1 restores the default from the environment or the cores. */
void zum_blas_set_num_threads(int threads);
int zum_blas_get_num_threads(void);

#undef ZUM_BLAS_INT_ENUM
#ifdef __cplusplus
}
#endif

#endif
