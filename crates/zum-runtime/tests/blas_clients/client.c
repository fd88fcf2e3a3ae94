/* A C99 program using libzum_blas the way C programs use a BLAS: the header and -lzum_blas.
 *   client multiply        a 2 x 2 product through sgemm_ and through cblas_dgemm
 *   client threads         the thread count the library chose
 *   client bad-lda         sgemm_ with LDA too small: the library's xerbla_ reports, C stays
 *   client bad-ldb-row-major  the same through cblas_sgemm, row-major */
#include <zum_runtime/blas.h>

#include <stdio.h>
#include <string.h>

static int multiply(void) {
  /* Column-major A = [1 3 5; 2 4 6], B = [1 0; 0 1; 2 0]. */
  const float a[6] = {1, 2, 3, 4, 5, 6};
  const float b[6] = {1, 0, 2, 0, 1, 0};
  float c[4] = {0, 0, 0, 0};
  const int m = 2, n = 2, k = 3, lda = 2, ldb = 3, ldc = 2;
  const float alpha = 1, beta = 0;
  sgemm_("N", "N", &m, &n, &k, &alpha, a, &lda, b, &ldb, &beta, c, &ldc, 1, 1);
  printf("sgemm_ %g %g %g %g\n", c[0], c[1], c[2], c[3]);
  /* Row-major A = [1 2; 3 4] times its transpose. */
  const double x[4] = {1, 2, 3, 4};
  double y[4] = {0, 0, 0, 0};
  cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasTrans, 2, 2, 2, 1.0, x, 2, x, 2, 0.0, y, 2);
  printf("cblas_dgemm %g %g %g %g\n", y[0], y[1], y[2], y[3]);
  return 0;
}

static int bad_argument(int row_major) {
  const float a[4] = {1, 2, 3, 4};
  float c[4] = {7, 7, 7, 7};
  const int m = 2, n = 2, k = 2, lda = 1, ldb = 2, ldc = 2;
  const float alpha = 1, beta = 0;
  if (row_major) {
    cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, 2, 2, 2, 1.0f, a, 2, a, 1, 0.0f, c, 2);
  } else {
    sgemm_("N", "N", &m, &n, &k, &alpha, a, &lda, a, &ldb, &beta, c, &ldc, 1, 1);
  }
  printf("returned, c %g %g %g %g\n", c[0], c[1], c[2], c[3]);
  return 0;
}

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "multiply";
  if (strcmp(mode, "multiply") == 0) return multiply();
  if (strcmp(mode, "threads") == 0) {
    printf("threads %d\n", zum_blas_get_num_threads());
    return 0;
  }
  if (strcmp(mode, "bad-lda") == 0) return bad_argument(0);
  if (strcmp(mode, "bad-ldb-row-major") == 0) return bad_argument(1);
  fprintf(stderr, "unknown mode %s\n", mode);
  return 2;
}
