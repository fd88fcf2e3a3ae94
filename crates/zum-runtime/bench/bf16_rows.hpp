#pragma once

#include <functional>
#include <string>

// zum-gemm-bench's bfloat16 rows (bf16_rows.cpp): the bfloat16 multiply one-shot and with a
// packed B, the library's float multiply on the same shape, oneDNN's bfloat16 matmul with a
// plain and with a reordered B, and the conversions against memcpy.
namespace zum_bench {

void register_bf16_rows();

// The table of those rows; `rate` gives a benchmark's GFLOPS (GB/s for the conversions), 0
// when it did not run.
void print_bf16_table(const std::function<double(const std::string&)>& rate);

}  // namespace zum_bench
