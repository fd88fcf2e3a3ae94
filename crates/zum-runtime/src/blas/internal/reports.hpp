#pragma once

// How a bad argument is reported: through xerbla_, whichever definition the process binds, with
// the Fortran routine's name and number. A CBLAS call marks itself first, so that the library's
// own xerbla_ can name the C routine and its argument position instead.
namespace zum_runtime::blas {

struct CblasCall {
  bool active = false;
  bool row_major = false;
};

// The CBLAS call running on this thread, if any.
CblasCall& current_cblas_call();

// Marks a CBLAS call for as long as it runs.
class CblasCallScope {
 public:
  explicit CblasCallScope(bool row_major) { current_cblas_call() = {true, row_major}; }
  ~CblasCallScope() { current_cblas_call() = {}; }
  CblasCallScope(const CblasCallScope&) = delete;
  CblasCallScope& operator=(const CblasCallScope&) = delete;
};

// xerbla_(routine, &info, 6); routine is the 6-character Fortran name ("SGEMM ").
void report_bad_argument(const char* routine, int info);

// The C argument position of a Fortran argument number reported during a CBLAS call: one more
// (the layout comes first), with M and N, LDA and LDB swapped back for a row-major call, whose
// operands trade places on their way to the Fortran routine.
int cblas_position(int info, bool row_major);

}  // namespace zum_runtime::blas
