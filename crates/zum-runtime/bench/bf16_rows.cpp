#include "bf16_rows.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <span>
#include <vector>

#include "base/bfloat16.hpp"
#include "gemm/gemm.hpp"
#include "gemm/internal/bf16_driver.hpp"
#include "onednn_peer.hpp"

namespace zum_bench {
namespace {

using std::size_t;
using zum_runtime::bfloat16;
using zum_runtime::gemm::Transpose;

struct Bf16Shape {
  size_t m, n, k;
  unsigned threads = 1;
};

const std::vector<Bf16Shape> bf16_shapes{
    {256, 256, 256},  {1024, 1024, 1024}, {2048, 2048, 2048}, {16, 1024, 1024},
    {1024, 16, 1024}, {100, 300, 77},     {1, 4096, 4096},    {2048, 2048, 2048, 2},
};

std::string name_of(const Bf16Shape& s) {
  // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) on one long concatenation.
  std::string name = "bf16 ";
  name.append(std::to_string(s.m)).append("x").append(std::to_string(s.n));
  name.append("x").append(std::to_string(s.k));
  if (s.threads != 1) name.append(" ").append(std::to_string(s.threads)).append(" threads");
  return name;
}

std::vector<float> random_floats(size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  std::vector<float> values(count);
  for (float& x : values) x = value(generator);
  return values;
}

std::vector<bfloat16> rounded(const std::vector<float>& values) {
  std::vector<bfloat16> narrow(values.size());
  zum_runtime::to_bfloat16(values, narrow);
  return narrow;
}

void count_flops(benchmark::State& state, const Bf16Shape& s) {
  state.counters["GFLOPS"] = benchmark::Counter(2.0 * double(s.m) * double(s.n) * double(s.k) / 1e9,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

enum class Way { one_shot, packed, float_multiply, onednn, onednn_reordered };

void multiply(benchmark::State& state, Bf16Shape s, Way way) {
  const std::vector<float> a_wide = random_floats(s.m * s.k, 1),
                           b_wide = random_floats(s.k * s.n, 2);
  const std::vector<bfloat16> a = rounded(a_wide), b = rounded(b_wide);
  std::vector<float> c(s.m * s.n);
  const zum_runtime::gemm::Options options{s.threads};
  const std::span<const bfloat16> a_span(a), b_span(b);
  if (way == Way::onednn || way == Way::onednn_reordered) {
    auto matmul = make_onednn_matmul(s.m, s.n, s.k, a.data(), b.data(), c.data(),
                                     way == Way::onednn_reordered);
    state.SetLabel(matmul->implementation());
    for (auto _ : state) matmul->run();
  } else if (way == Way::packed) {
    const auto packed = zum_runtime::gemm::pack_b(Transpose::no, s.k, s.n, b_span, s.n);
    for (auto _ : state) {
      zum_runtime::gemm::multiply(Transpose::no, s.m, 1.0f, a_span, s.k, packed, 0.0f,
                                  std::span<float>(c), s.n, options);
      benchmark::ClobberMemory();
    }
  } else if (way == Way::float_multiply) {
    for (auto _ : state) {
      zum_runtime::gemm::multiply<float>(Transpose::no, Transpose::no, s.m, s.n, s.k, 1.0f, a_wide,
                                         s.k, b_wide, s.n, 0.0f, c, s.n, options);
      benchmark::ClobberMemory();
    }
  } else {
    for (auto _ : state) {
      zum_runtime::gemm::multiply(Transpose::no, Transpose::no, s.m, s.n, s.k, 1.0f, a_span, s.k,
                                  b_span, s.n, 0.0f, std::span<float>(c), s.n, options);
      benchmark::ClobberMemory();
    }
  }
  if (way != Way::onednn && way != Way::onednn_reordered) {
    state.SetLabel(std::string(
        zum_runtime::bf16::bf16_path_name(zum_runtime::gemm::driver::chosen_bf16_path())));
  }
  count_flops(state, s);
}

constexpr size_t converted = size_t{1} << 20;

enum class Conversion { to_bfloat16, to_float, memcpy_floats };

// GB/s of the float bytes a conversion reads or writes, as memcpy of those bytes.
void convert(benchmark::State& state, Conversion conversion) {
  const std::vector<float> floats = random_floats(converted, 4);
  std::vector<float> wide(converted);
  std::vector<bfloat16> narrow = rounded(floats);
  for (auto _ : state) {
    if (conversion == Conversion::to_bfloat16) {
      zum_runtime::to_bfloat16(floats, narrow);
    } else if (conversion == Conversion::to_float) {
      zum_runtime::to_float(narrow, wide);
    } else {
      std::memcpy(wide.data(), floats.data(), converted * sizeof(float));
    }
    benchmark::ClobberMemory();
  }
  state.counters["GBps"] = benchmark::Counter(double(converted * sizeof(float)) / 1e9,
                                              benchmark::Counter::kIsIterationInvariantRate);
}

const char* const way_names[] = {"zum", "zum packed", "zum f32", "onednn", "onednn reordered"};
const char* const conversion_names[] = {"to_bfloat16", "to_float", "memcpy"};

}  // namespace

void register_bf16_rows() {
  const bool with_onednn = make_onednn_matmul(1, 1, 1, nullptr, nullptr, nullptr, false) != nullptr;
  if (!with_onednn) std::fprintf(stderr, "oneDNN not built in: its bf16 figures are left out\n");
  for (const Bf16Shape& shape : bf16_shapes) {
    for (const Way way :
         {Way::one_shot, Way::packed, Way::float_multiply, Way::onednn, Way::onednn_reordered}) {
      const bool onednn_way = way == Way::onednn || way == Way::onednn_reordered;
      if (onednn_way && (!with_onednn || shape.threads != 1)) continue;
      const std::string name = name_of(shape) + "/" + way_names[static_cast<int>(way)];
      benchmark::RegisterBenchmark(name.c_str(), multiply, shape, way);
    }
  }
  for (const Conversion conversion :
       {Conversion::to_bfloat16, Conversion::to_float, Conversion::memcpy_floats}) {
    const std::string name =
        std::string("convert 1M/") + conversion_names[static_cast<int>(conversion)];
    benchmark::RegisterBenchmark(name.c_str(), convert, conversion);
  }
}

void print_bf16_table(const std::function<double(const std::string&)>& rate) {
  if (rate(name_of(bf16_shapes.front()) + "/zum") == 0) return;
  std::printf("\nbf16, GFLOPS\n%-26s %8s %8s %8s %8s %9s %9s %9s %9s\n", "shape", "zum", "packed",
              "zum f32", "onednn", "reordered", "zum/f32", "zum/dnn", "pack/re");
  const auto ratio = [](double x, double y) { return y > 0 ? x / y : 0.0; };
  for (const Bf16Shape& shape : bf16_shapes) {
    const std::string name = name_of(shape);
    double figures[5];
    for (int way = 0; way < 5; ++way) figures[way] = rate(name + "/" + way_names[way]);
    std::printf("%-26s %8.1f %8.1f %8.1f %8.1f %9.1f %9.2f %9.2f %9.2f\n", name.c_str(), figures[0],
                figures[1], figures[2], figures[3], figures[4], ratio(figures[0], figures[2]),
                ratio(figures[0], figures[3]), ratio(figures[1], figures[4]));
  }
  const double memcpy_rate = rate("convert 1M/memcpy");
  std::printf("\nconversions of 1M elements, GB/s of float bytes: memcpy %.1f\n", memcpy_rate);
  for (const char* conversion : {"to_bfloat16", "to_float"}) {
    const double figure = rate(std::string("convert 1M/") + conversion);
    std::printf("%-12s %8.1f GB/s  %.2fx memcpy\n", conversion, figure, ratio(figure, memcpy_rate));
  }
}

}  // namespace zum_bench
