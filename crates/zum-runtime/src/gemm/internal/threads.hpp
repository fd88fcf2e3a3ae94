#pragma once

#include <vector>

#include "gemm/internal/driver.hpp"

// The split of a call over threads (threads.cpp). Internal.
namespace zum_runtime::gemm::driver {

// The parts of a problem that `threads` threads take, and the threads a problem asks for.
template <typename T>
std::vector<Problem<T>> parts_of(const Problem<T>& problem, unsigned threads);
unsigned threads_asked(unsigned threads);

}  // namespace zum_runtime::gemm::driver
