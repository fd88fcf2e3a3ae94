#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/bfloat16.hpp"

// oneDNN's bfloat16 and 8-bit integer matmuls as peers (onednn_peer.cpp when Debian's libdnnl-dev
// is there, onednn_absent.cpp otherwise): row-major A (m × k) and B (k × n) into float C, one
// thread.
namespace zum_bench {

class OnednnMatmul {
 public:
  virtual ~OnednnMatmul() = default;
  virtual void run() = 0;
  // The implementation oneDNN picked, e.g. "brg:avx512_core_bf16".
  virtual std::string implementation() const = 0;
};

// `reordered_b`: B reordered once into the layout oneDNN prefers (format_tag::any) before
// timing; otherwise read as plain row-major on every call. Null when oneDNN is absent.
std::unique_ptr<OnednnMatmul> make_onednn_matmul(std::size_t m, std::size_t n, std::size_t k,
                                                 const zum_runtime::bfloat16* a,
                                                 const zum_runtime::bfloat16* b, float* c,
                                                 bool reordered_b);
std::unique_ptr<OnednnMatmul> make_onednn_int8_matmul(std::size_t m, std::size_t n, std::size_t k,
                                                      const std::uint8_t* a, const std::int8_t* b,
                                                      std::int32_t* c, bool reordered_b);

}  // namespace zum_bench
