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
#include "peer_rows.hpp"

namespace zum_bench {
namespace {

using std::size_t;
using zum_runtime::bfloat16;
using zum_runtime::gemm::Transpose;

using Shape = PeerShape;

std::string name_of(const Shape& s) {
  return peer_row_name("bf16", s);
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

void count_flops(benchmark::State& state, const Shape& s) {
  state.counters["GFLOPS"] = benchmark::Counter(2.0 * double(s.m) * double(s.n) * double(s.k) / 1e9,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

using Way = PeerWay;

void multiply(benchmark::State& state, Shape s, Way way) {
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

const char* const conversion_names[] = {"to_bfloat16", "to_float", "memcpy"};

}  // namespace

void register_bf16_rows() {
  register_peer_rows(
      "bf16", make_onednn_matmul(1, 1, 1, nullptr, nullptr, nullptr, false) != nullptr, multiply);
  for (const Conversion conversion :
       {Conversion::to_bfloat16, Conversion::to_float, Conversion::memcpy_floats}) {
    const std::string name =
        std::string("convert 1M/") + conversion_names[static_cast<int>(conversion)];
    benchmark::RegisterBenchmark(name.c_str(), convert, conversion);
  }
}

void print_bf16_table(const std::function<double(const std::string&)>& rate) {
  if (rate(name_of(peer_shapes.front()) + "/zum") == 0) return;
  print_peer_table("bf16", "bf16, GFLOPS", rate);
  const auto ratio = [](double x, double y) { return y > 0 ? x / y : 0.0; };
  const double memcpy_rate = rate("convert 1M/memcpy");
  std::printf("\nconversions of 1M elements, GB/s of float bytes: memcpy %.1f\n", memcpy_rate);
  for (const char* conversion : {"to_bfloat16", "to_float"}) {
    const double figure = rate(std::string("convert 1M/") + conversion);
    std::printf("%-12s %8.1f GB/s  %.2fx memcpy\n", conversion, figure, ratio(figure, memcpy_rate));
  }
}

}  // namespace zum_bench
