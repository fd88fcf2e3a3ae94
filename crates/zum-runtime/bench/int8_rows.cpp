#include "int8_rows.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <span>
#include <vector>

#include "gemm/gemm.hpp"
#include "gemm/internal/int8_driver.hpp"
#include "onednn_peer.hpp"

namespace zum_bench {
namespace {

using std::size_t;
using zum_runtime::gemm::Accumulate;
using zum_runtime::gemm::Transpose;

struct Int8Shape {
  size_t m, n, k;
  unsigned threads = 1;
};

const std::vector<Int8Shape> int8_shapes{
    {256, 256, 256},  {1024, 1024, 1024}, {2048, 2048, 2048}, {16, 1024, 1024},
    {1024, 16, 1024}, {100, 300, 77},     {1, 4096, 4096},    {2048, 2048, 2048, 2},
};

std::string name_of(const Int8Shape& s) {
  std::string name = "int8 ";
  name.append(std::to_string(s.m)).append("x").append(std::to_string(s.n));
  name.append("x").append(std::to_string(s.k));
  if (s.threads != 1) name.append(" ").append(std::to_string(s.threads)).append(" threads");
  return name;
}

template <typename T>
std::vector<T> random_values(size_t count, int low, int high, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_int_distribution<int> value(low, high);
  std::vector<T> values(count);
  for (T& x : values) x = static_cast<T>(value(generator));
  return values;
}

enum class Way { one_shot, packed, float_multiply, onednn, onednn_reordered };

void run_onednn(benchmark::State& state, const Int8Shape& s, bool reordered) {
  const auto a = random_values<std::uint8_t>(s.m * s.k, 0, 255, 1);
  const auto b = random_values<std::int8_t>(s.k * s.n, -128, 127, 2);
  std::vector<std::int32_t> c(s.m * s.n);
  auto matmul = make_onednn_int8_matmul(s.m, s.n, s.k, a.data(), b.data(), c.data(), reordered);
  state.SetLabel(matmul->implementation());
  for (auto _ : state) matmul->run();
}

void run_float(benchmark::State& state, const Int8Shape& s) {
  const auto a = random_values<float>(s.m * s.k, -100, 100, 1);
  const auto b = random_values<float>(s.k * s.n, -100, 100, 2);
  std::vector<float> c(s.m * s.n);
  for (auto _ : state) {
    zum_runtime::gemm::multiply<float>(Transpose::no, Transpose::no, s.m, s.n, s.k, 1.0f, a, s.k, b,
                                       s.n, 0.0f, c, s.n, {s.threads});
    benchmark::ClobberMemory();
  }
}

// Zero points of 0: the form oneDNN is measured in.
void run_zum(benchmark::State& state, const Int8Shape& s, bool packed_b) {
  const auto a = random_values<std::uint8_t>(s.m * s.k, 0, 255, 1);
  const auto b = random_values<std::int8_t>(s.k * s.n, -128, 127, 2);
  std::vector<std::int32_t> c(s.m * s.n);
  const std::span<const std::uint8_t> a_span(a);
  const std::span<const std::int8_t> b_span(b);
  const std::span<std::int32_t> c_span(c);
  const zum_runtime::gemm::Options options{s.threads};
  if (packed_b) {
    const auto packed = zum_runtime::gemm::pack_b(Transpose::no, s.k, s.n, b_span, s.n, 0);
    for (auto _ : state) {
      zum_runtime::gemm::multiply(Transpose::no, s.m, a_span, s.k, 0, packed, Accumulate::no,
                                  c_span, s.n, options);
      benchmark::ClobberMemory();
    }
  } else {
    for (auto _ : state) {
      zum_runtime::gemm::multiply(Transpose::no, Transpose::no, s.m, s.n, s.k, a_span, s.k, 0,
                                  b_span, s.n, 0, Accumulate::no, c_span, s.n, options);
      benchmark::ClobberMemory();
    }
  }
  namespace driver = zum_runtime::gemm::driver;
  state.SetLabel(std::string(driver::int8_path_name(driver::chosen_int8_path())));
}

void multiply(benchmark::State& state, Int8Shape s, Way way) {
  if (way == Way::onednn || way == Way::onednn_reordered) {
    run_onednn(state, s, way == Way::onednn_reordered);
  } else if (way == Way::float_multiply) {
    run_float(state, s);
  } else {
    run_zum(state, s, way == Way::packed);
  }
  state.counters["GOPS"] = benchmark::Counter(2.0 * double(s.m) * double(s.n) * double(s.k) / 1e9,
                                              benchmark::Counter::kIsIterationInvariantRate);
}

const char* const way_names[] = {"zum", "zum packed", "zum f32", "onednn", "onednn reordered"};

}  // namespace

void register_int8_rows() {
  const bool with_onednn =
      make_onednn_int8_matmul(1, 1, 1, nullptr, nullptr, nullptr, false) != nullptr;
  if (!with_onednn) std::fprintf(stderr, "oneDNN not built in: its int8 figures are left out\n");
  for (const Int8Shape& shape : int8_shapes) {
    for (const Way way :
         {Way::one_shot, Way::packed, Way::float_multiply, Way::onednn, Way::onednn_reordered}) {
      const bool onednn_way = way == Way::onednn || way == Way::onednn_reordered;
      if (onednn_way && (!with_onednn || shape.threads != 1)) continue;
      const std::string name = name_of(shape) + "/" + way_names[static_cast<int>(way)];
      benchmark::RegisterBenchmark(name.c_str(), multiply, shape, way);
    }
  }
}

void print_int8_table(const std::function<double(const std::string&)>& rate) {
  if (rate(name_of(int8_shapes.front()) + "/zum") == 0) return;
  std::printf("\nint8 (u8 x s8 -> s32), GOPS\n%-26s %8s %8s %8s %8s %9s %9s %9s %9s\n", "shape",
              "zum", "packed", "zum f32", "onednn", "reordered", "zum/f32", "zum/dnn", "pack/re");
  const auto ratio = [](double x, double y) { return y > 0 ? x / y : 0.0; };
  for (const Int8Shape& shape : int8_shapes) {
    const std::string name = name_of(shape);
    double figures[5];
    for (int way = 0; way < 5; ++way) figures[way] = rate(name + "/" + way_names[way]);
    std::printf("%-26s %8.1f %8.1f %8.1f %8.1f %9.1f %9.2f %9.2f %9.2f\n", name.c_str(), figures[0],
                figures[1], figures[2], figures[3], figures[4], ratio(figures[0], figures[2]),
                ratio(figures[0], figures[3]), ratio(figures[1], figures[4]));
  }
}

}  // namespace zum_bench
