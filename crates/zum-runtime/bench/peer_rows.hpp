#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// What the bfloat16 and 8-bit rows of zum-gemm-bench share: their shapes, their names and the
// table that sets each beside the library's float multiply and oneDNN.
namespace zum_bench {

struct PeerShape {
  std::size_t m, n, k;
  unsigned threads = 1;
};

inline const std::vector<PeerShape> peer_shapes{
    {256, 256, 256},  {1024, 1024, 1024}, {2048, 2048, 2048}, {16, 1024, 1024},
    {1024, 16, 1024}, {100, 300, 77},     {1, 4096, 4096},    {2048, 2048, 2048, 2},
};

// "bf16 256x256x256", "int8 2048x2048x2048 2 threads".
inline std::string peer_row_name(const char* type, const PeerShape& s) {
  // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) on one long concatenation.
  std::string name = type;
  name.append(" ").append(std::to_string(s.m)).append("x").append(std::to_string(s.n));
  name.append("x").append(std::to_string(s.k));
  if (s.threads != 1) name.append(" ").append(std::to_string(s.threads)).append(" threads");
  return name;
}

// The ways each shape runs, and their names after the shape's in a row's name.
enum class PeerWay { one_shot, packed, float_multiply, onednn, onednn_reordered };
inline const char* const peer_ways[] = {"zum", "zum packed", "zum f32", "onednn",
                                        "onednn reordered"};

// Registers run(state, shape, way) for every shape and way; oneDNN's ways where it is built
// in, on one thread.
template <typename Run>
void register_peer_rows(const char* type, bool with_onednn, Run run) {
  if (!with_onednn)
    std::fprintf(stderr, "oneDNN not built in: its %s figures are left out\n", type);
  for (const PeerShape& shape : peer_shapes) {
    for (const PeerWay way : {PeerWay::one_shot, PeerWay::packed, PeerWay::float_multiply,
                              PeerWay::onednn, PeerWay::onednn_reordered}) {
      const bool onednn_way = way == PeerWay::onednn || way == PeerWay::onednn_reordered;
      if (onednn_way && (!with_onednn || shape.threads != 1)) continue;
      const std::string name = peer_row_name(type, shape) + "/" + peer_ways[static_cast<int>(way)];
      benchmark::RegisterBenchmark(name.c_str(), run, shape, way);
    }
  }
}

// One line per shape: each way's rate, then zum ÷ float, zum ÷ oneDNN, packed ÷ reordered.
inline void print_peer_table(const char* type, const char* heading,
                             const std::function<double(const std::string&)>& rate) {
  std::printf("\n%s\n%-26s %8s %8s %8s %8s %9s %9s %9s %9s\n", heading, "shape", "zum", "packed",
              "zum f32", "onednn", "reordered", "zum/f32", "zum/dnn", "pack/re");
  const auto ratio = [](double x, double y) { return y > 0 ? x / y : 0.0; };
  for (const PeerShape& shape : peer_shapes) {
    const std::string name = peer_row_name(type, shape);
    double figures[5];
    for (int way = 0; way < 5; ++way) figures[way] = rate(name + "/" + peer_ways[way]);
    std::printf("%-26s %8.1f %8.1f %8.1f %8.1f %9.1f %9.2f %9.2f %9.2f\n", name.c_str(), figures[0],
                figures[1], figures[2], figures[3], figures[4], ratio(figures[0], figures[2]),
                ratio(figures[0], figures[3]), ratio(figures[1], figures[4]));
  }
}

}  // namespace zum_bench
