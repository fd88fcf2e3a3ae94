// The library's own xerbla_: the reference message on stderr, then back to the caller, which
// returns with C untouched. Never ends the process. Its own unit, so that nothing in the library
// can call it except through the dynamic symbol a program's definition overrides.
#include <zum_runtime/blas.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "blas/internal/reports.hpp"

namespace {

// The routine's name without its trailing blanks; never reads past a NUL or 32 characters, for
// callers that pass a C string and no length.
std::string trimmed_name(const char* routine, size_t length) {
  std::string name;
  for (size_t i = 0; i < length && i < 32 && routine[i] != '\0'; ++i) name += routine[i];
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

std::string lowercase(std::string text) {
  for (char& letter : text)
    letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  return text;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void xerbla_(const char* routine, const int* info,
                                                               size_t routine_length) {
  const std::string name = trimmed_name(routine, routine_length);
  const zum_runtime::blas::CblasCall call = zum_runtime::blas::current_cblas_call();
  if (call.active) {
    std::fprintf(stderr, "Parameter %d to routine cblas_%s was incorrect\n",
                 zum_runtime::blas::cblas_position(*info, call.row_major), lowercase(name).c_str());
  } else {
    std::fprintf(stderr, " ** On entry to %s parameter number %2d had an illegal value\n",
                 name.c_str(), *info);
  }
}
