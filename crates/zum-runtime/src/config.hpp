#pragma once

// What every public header of zum_runtime needs first: the language version, and the mark on
// the declarations a shared build of the library exports (everything else stays hidden).
#if !defined(__cplusplus) || __cplusplus < 202002L
#error "zum_runtime needs C++20 (std::span, std::source_location): compile with -std=c++20 or later"
#endif

#define ZUM_RUNTIME_API __attribute__((visibility("default")))
