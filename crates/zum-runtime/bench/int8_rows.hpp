#pragma once

#include <functional>
#include <string>

// zum-gemm-bench's 8-bit integer rows (int8_rows.cpp): the u8 × s8 → s32 multiply one-shot and
// with a packed B, the library's float multiply on the same shape, and oneDNN's u8 × s8 → s32
// matmul with a plain and with its own (reordered) B.
namespace zum_bench {

void register_int8_rows();

// The table of those rows; `rate` gives a benchmark's GOPS (GFLOPS for float), 0 when it did
// not run.
void print_int8_table(const std::function<double(const std::string&)>& rate);

}  // namespace zum_bench
