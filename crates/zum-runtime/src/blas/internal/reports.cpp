#include "blas/internal/reports.hpp"

#include <zum_runtime/blas.h>

namespace zum_runtime::blas {

CblasCall& current_cblas_call() {
  thread_local CblasCall call;
  return call;
}

void report_bad_argument(const char* routine, int info) {
  // Through the dynamic symbol: a program's own xerbla_ wins over the library's.
  xerbla_(routine, &info, 6);
}

int cblas_position(int info, bool row_major) {
  const int position = info + 1;
  if (!row_major) return position;
  switch (position) {
    case 4:
      return 5;
    case 5:
      return 4;
    case 9:
      return 11;
    case 11:
      return 9;
    default:
      return position;
  }
}

}  // namespace zum_runtime::blas
