// Cost of block_coordinates per call, checked against the same formulas unchecked, and of one
// whole bijection test body. Ends with a table of the checked / unchecked ratio per layout.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "blocked_data.hpp"
#include "internal/unchecked_mapping.hpp"
#include "reporting.hpp"

namespace tests {
void kiv_block_layouts_are_bijections();
}

namespace {

using zum_runtime::blocked_data::BlockLayout;
using zum_runtime::blocked_data::layout_name;
using Mapping = zum_runtime::blocked_data::CoordinatePair (*)(BlockLayout, std::uint16_t,
                                                              std::uint16_t, std::uint16_t);

struct Shape {
  BlockLayout layout;
  std::uint16_t rows;
  std::uint16_t columns;
};

// The shapes the bijection test checks, one per layout.
const std::vector<Shape> shapes{
    {BlockLayout::KivA8, 128, 32},    {BlockLayout::KivA16, 128, 32},
    {BlockLayout::KivA32, 128, 64},   {BlockLayout::KivB8x16, 32, 64},
    {BlockLayout::KivB16x16, 32, 64}, {BlockLayout::KivB32x16, 64, 64},
    {BlockLayout::KivC16, 128, 64},   {BlockLayout::KivC16F16, 128, 64},
};

// One iteration maps every position of the shape once; the counter turns the iteration's time
// into time per call.
void map_every_position(benchmark::State& state, Mapping mapping, Shape shape) {
  const std::uint32_t calls = std::uint32_t{shape.rows} * shape.columns;
  for (auto _ : state) {
    for (std::uint32_t linear = 0; linear < calls; ++linear) {
      benchmark::DoNotOptimize(
          mapping(shape.layout, shape.rows, shape.columns, static_cast<std::uint16_t>(linear)));
    }
  }
  state.counters["calls"] = calls;
}

void bijection_test_body(benchmark::State& state) {
  for (auto _ : state) tests::kiv_block_layouts_are_bijections();
}

// The console report, then one line per layout with both costs per call and their ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(zum_bench::console_options()) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto calls = run.counters.find("calls");
      if (!zum_bench::stands_for_benchmark(run) || calls == run.counters.end()) continue;
      const std::string name = run.run_name.function_name;
      const auto slash = name.find('/');
      // Adjusted times are in nanoseconds, the unit every benchmark here reports in.
      per_call_ns_[name.substr(slash + 1)][name.substr(0, slash)] =
          run.GetAdjustedRealTime() / calls->second.value;
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-10s %12s %14s %22s\n", "layout", "checked ns", "unchecked ns",
                "checked / unchecked");
    for (const Shape& shape : shapes) {
      const std::string layout(layout_name(shape.layout));
      const auto& costs = per_call_ns_[layout];
      const auto checked = costs.find("checked");
      const auto unchecked = costs.find("unchecked");
      if (checked == costs.end() || unchecked == costs.end()) continue;
      std::printf("%-10s %12.3f %14.3f %22.3f\n", layout.c_str(), checked->second,
                  unchecked->second, checked->second / unchecked->second);
    }
  }

 private:
  std::map<std::string, std::map<std::string, double>> per_call_ns_;
};

void register_benchmarks() {
  for (const Shape& shape : shapes) {
    const std::string layout(layout_name(shape.layout));
    benchmark::RegisterBenchmark(("checked/" + layout).c_str(), map_every_position,
                                 &zum_runtime::blocked_data::block_coordinates, shape);
    benchmark::RegisterBenchmark(("unchecked/" + layout).c_str(), map_every_position,
                                 &zum_runtime::blocked_data::unchecked::block_coordinates, shape);
  }
  benchmark::RegisterBenchmark("bijection_test_body", bijection_test_body)
      ->Unit(benchmark::kMicrosecond);
}

}  // namespace

int main(int argc, char* argv[]) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  register_benchmarks();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
