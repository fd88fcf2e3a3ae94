#pragma once

#include <exception>
#include <thread>
#include <vector>

#include "gemm/internal/driver.hpp"

// The split of a call over threads (threads.cpp). Internal.
namespace zum_runtime::gemm::driver {

// The rows [first, first + count) of the problem, or its columns.
template <typename T, typename In>
Problem<T, In> rows_of(Problem<T, In> p, size_t first, size_t count) {
  p.a = p.a.subspan(p.transpose_a == Transpose::no ? first * p.a_row_stride : first);
  p.c = p.c.subspan(first * p.c_row_stride);
  p.m = count;
  return p;
}
template <typename T, typename In>
Problem<T, In> columns_of(Problem<T, In> p, size_t first, size_t count) {
  if (is_packed(p)) {
    p.packed_b.first_column += first;
  } else {
    p.b = p.b.subspan(p.transpose_b == Transpose::no ? first : first * p.b_row_stride);
  }
  p.c = p.c.subspan(first);
  p.n = count;
  return p;
}

// The parts of a problem that `threads` threads take, how many there are (from the shape
// alone: a problem that only describes a call may hold no operands), and the threads a
// problem asks for.
template <typename T, typename In>
std::vector<Problem<T, In>> parts_of(const Problem<T, In>& problem, unsigned threads);
template <typename T, typename In>
std::size_t part_count(const Problem<T, In>& problem, unsigned threads);
unsigned threads_asked(unsigned threads);

// Runs each part on its own thread, the first on the caller's; a failure in any part is
// rethrown to the caller once all have finished.
template <typename Part, typename Run>
void run_parts(const std::vector<Part>& parts, Run run) {
  std::vector<std::exception_ptr> failures(parts.size());
  const auto run_part = [&](std::size_t part) {
    try {
      run(parts[part]);
    } catch (...) {
      failures[part] = std::current_exception();
    }
  };
  {
    std::vector<std::jthread> workers;
    for (std::size_t part = 1; part < parts.size(); ++part) workers.emplace_back(run_part, part);
    run_part(0);
  }
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

}  // namespace zum_runtime::gemm::driver
