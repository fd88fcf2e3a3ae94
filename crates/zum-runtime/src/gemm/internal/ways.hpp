#pragma once

#include "gemm/internal/plan.hpp"

// The ways of running, the loops around the kernels: blocked.cpp (both operands packed) and
// skinny.cpp (op(A) read where stored). Internal.
namespace zum_runtime::gemm::driver {

template <typename T>
void run_small(const Problem<T>& problem);
template <typename T>
void run_blocked(const Problem<T>& problem, const PathKernels<T>& kernels);
template <typename T>
void run_stored_a(const Problem<T>& problem, const PathKernels<T>& kernels, bool narrow);
template <typename T>
void run_stored(const Problem<T>& problem, const PathKernels<T>& kernels, bool narrow);
template <typename T>
void run_sweep(const Problem<T>& problem, const PathKernels<T>& kernels);
template <typename T>
void run_columns(const Problem<T>& problem, const PathKernels<T>& kernels, bool narrow);

}  // namespace zum_runtime::gemm::driver
