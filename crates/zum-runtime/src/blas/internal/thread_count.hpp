#pragma once

#include <optional>
#include <string_view>

// How many threads a BLAS call runs on.
namespace zum_runtime::blas {

// The count a call uses now: the last zum_blas_set_num_threads, else the default.
unsigned thread_count();

// ZUM_NUM_THREADS, else OMP_NUM_THREADS, else every core the process may run on; read once.
unsigned default_thread_count();

// A thread count as the variables write it: a positive decimal integer, and for
// OMP_NUM_THREADS's nested list ("4,2") its first value. Nothing for anything else.
std::optional<unsigned> parse_thread_count(std::string_view text);

}  // namespace zum_runtime::blas
