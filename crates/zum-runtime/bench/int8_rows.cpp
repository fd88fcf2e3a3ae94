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
#include "peer_rows.hpp"

namespace zum_bench {
namespace {

using std::size_t;
using zum_runtime::gemm::Accumulate;
using zum_runtime::gemm::Transpose;

using Shape = PeerShape;

std::string name_of(const Shape& s) {
  return peer_row_name("int8", s);
}

template <typename T>
std::vector<T> random_values(size_t count, int low, int high, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_int_distribution<int> value(low, high);
  std::vector<T> values(count);
  for (T& x : values) x = static_cast<T>(value(generator));
  return values;
}

using Way = PeerWay;

void run_onednn(benchmark::State& state, const Shape& s, bool reordered) {
  const auto a = random_values<std::uint8_t>(s.m * s.k, 0, 255, 1);
  const auto b = random_values<std::int8_t>(s.k * s.n, -128, 127, 2);
  std::vector<std::int32_t> c(s.m * s.n);
  auto matmul = make_onednn_int8_matmul(s.m, s.n, s.k, a.data(), b.data(), c.data(), reordered);
  state.SetLabel(matmul->implementation());
  for (auto _ : state) matmul->run();
}

void run_float(benchmark::State& state, const Shape& s) {
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
void run_zum(benchmark::State& state, const Shape& s, bool packed_b) {
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

void multiply(benchmark::State& state, Shape s, Way way) {
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

}  // namespace

void register_int8_rows() {
  register_peer_rows("int8",
                     make_onednn_int8_matmul(1, 1, 1, nullptr, nullptr, nullptr, false) != nullptr,
                     multiply);
}

void print_int8_table(const std::function<double(const std::string&)>& rate) {
  if (rate(name_of(peer_shapes.front()) + "/zum") == 0) return;
  print_peer_table("int8", "int8 (u8 x s8 -> s32), GOPS", rate);
}

}  // namespace zum_bench
