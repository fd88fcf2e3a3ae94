// Packing throughput: pack and unpack of whole matrices against memcpy of the same bytes, the
// straightforward loop a caller would write by hand for one layout, and the per-element loop
// through block_coordinates. Ends with a table per matrix: GB/s of each, and each one's ratio
// to memcpy.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "blocked_data.hpp"
#include "internal/pair_interleave.hpp"
#include "pack/internal/kernels.hpp"
#include "pack/packing.hpp"
#include "reporting.hpp"

namespace {

using namespace zum_runtime::blocked_data;
using u16 = std::uint16_t;

struct Matrix {
  const char* name;
  u16 rows;
  u16 columns;
  std::size_t element_bytes;
};

const std::vector<Matrix> matrices{
    {"f32 256x256", 256, 256, 4},
    {"f32 64x64", 64, 64, 4},
    {"u16 256x256", 256, 256, 2},
};

// Elements in 64-byte-aligned memory, as a GEMM allocates its operands.
template <typename Element>
class AlignedElements {
 public:
  explicit AlignedElements(std::size_t count)
      : count_(count),
        memory_(static_cast<Element*>(
            std::aligned_alloc(64, (count * sizeof(Element) + 63) / 64 * 64))) {
    for (std::size_t index = 0; index < count; ++index) {
      memory_.get()[index] = static_cast<Element>(index % 251);
    }
  }
  std::span<Element> span() { return {memory_.get(), count_}; }

 private:
  struct Free {
    void operator()(Element* memory) const { std::free(memory); }
  };
  std::size_t count_;
  std::unique_ptr<Element, Free> memory_;
};

// Throughput counts the matrix's bytes for every way, padding or not, so the ratios compare
// the same work.
void count_matrix_bytes(benchmark::State& state, std::size_t matrix_bytes) {
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(matrix_bytes));
}

template <typename Element>
void copy_with_memcpy(benchmark::State& state, Matrix matrix) {
  const std::size_t elements = std::size_t{matrix.rows} * matrix.columns;
  AlignedElements<Element> from(elements), to(elements);
  for (auto _ : state) {
    std::memcpy(to.span().data(), from.span().data(), elements * sizeof(Element));
    benchmark::ClobberMemory();
  }
  count_matrix_bytes(state, elements * sizeof(Element));
}

template <typename Element>
void pack_matrix(benchmark::State& state, Matrix matrix, BlockLayout layout) {
  const std::size_t elements = std::size_t{matrix.rows} * matrix.columns;
  AlignedElements<Element> from(elements),
      buffer(blocked_buffer_elements(layout, matrix.rows, matrix.columns));
  for (auto _ : state) {
    pack<Element>(layout, matrix.rows, matrix.columns, from.span(), matrix.columns, buffer.span());
    benchmark::ClobberMemory();
  }
  count_matrix_bytes(state, elements * sizeof(Element));
}

template <typename Element>
void unpack_matrix(benchmark::State& state, Matrix matrix, BlockLayout layout) {
  const std::size_t elements = std::size_t{matrix.rows} * matrix.columns;
  AlignedElements<Element> buffer(blocked_buffer_elements(layout, matrix.rows, matrix.columns)),
      to(elements);
  for (auto _ : state) {
    unpack<Element>(layout, matrix.rows, matrix.columns, buffer.span(), to.span(), matrix.columns);
    benchmark::ClobberMemory();
  }
  count_matrix_bytes(state, elements * sizeof(Element));
}

// What a caller writes without pack: one mapping call per position. The shapes measured need
// no padding, so every position holds a matrix element.
template <typename Element>
void pack_per_element(benchmark::State& state, Matrix matrix, BlockLayout layout) {
  const std::size_t elements = std::size_t{matrix.rows} * matrix.columns;
  AlignedElements<Element> from(elements), buffer(elements);
  const std::span<const Element> source = from.span();
  const std::span<Element> destination = buffer.span();
  for (auto _ : state) {
    for (std::size_t position = 0; position < elements; ++position) {
      const auto [row, column] =
          block_coordinates(layout, matrix.rows, matrix.columns, static_cast<u16>(position));
      destination[position] = source[std::size_t{row} * matrix.columns + column];
    }
    benchmark::ClobberMemory();
  }
  count_matrix_bytes(state, elements * sizeof(Element));
}

// The loop a user would write by hand for one layout, its panel sizes known at compile time and
// its two pointers marked as not aliasing, so the compiler vectorizes what it can; built like
// the benchmark for baseline x86-64: panel after panel, each element moved in the layout's
// order. Whole panels only, as every shape measured has.
template <BlockLayout layout, typename Element, bool unpacking>
void straightforward_loop(std::size_t rows, std::size_t columns, Element* __restrict matrix,
                          Element* __restrict buffer) {
  constexpr PanelShape panel = panel_shape(layout);
  const auto move = [](Element& packed, Element& element) {
    if constexpr (unpacking) {
      element = packed;
    } else {
      packed = element;
    }
  };
  const auto column_in_group = [](std::size_t stored) -> std::size_t {
    return panel.interleaved_pairs ? pair_interleave::column_of_stored[stored] : stored;
  };
  std::size_t position = 0;
  for (std::size_t first_column = 0; first_column < columns; first_column += panel.columns) {
    if constexpr (panel.family == 'B') {
      for (std::size_t first_row = 0; first_row < rows; first_row += panel.rows) {
        for (std::size_t channel = 0; channel < panel.columns; ++channel) {
          const std::size_t column = first_column + column_in_group(channel);
          for (std::size_t row = 0; row < panel.rows; ++row) {
            move(buffer[position + row], matrix[(first_row + row) * columns + column]);
          }
          position += panel.rows;
        }
      }
    } else {
      for (std::size_t row = 0; row < rows; ++row) {
        for (std::size_t stored = 0; stored < panel.columns; ++stored) {
          move(buffer[position + stored],
               matrix[row * columns + first_column + column_in_group(stored)]);
        }
        position += panel.columns;
      }
    }
  }
}

template <typename Element, bool unpacking, std::size_t... layout>
constexpr auto straightforward_loops(std::index_sequence<layout...>) {
  using Loop = void (*)(std::size_t, std::size_t, Element*, Element*);
  return std::array<Loop, 8>{
      &straightforward_loop<all_block_layouts[layout], Element, unpacking>...};
}

template <typename Element>
void move_with_loop(benchmark::State& state, Matrix matrix, BlockLayout layout, bool unpacking) {
  const std::size_t elements = std::size_t{matrix.rows} * matrix.columns;
  AlignedElements<Element> source(elements), destination(elements);
  constexpr auto layouts = std::make_index_sequence<8>{};
  const auto index = static_cast<std::size_t>(layout);
  const auto loop = unpacking ? straightforward_loops<Element, true>(layouts)[index]
                              : straightforward_loops<Element, false>(layouts)[index];
  Element* matrix_elements = (unpacking ? destination : source).span().data();
  Element* buffer_elements = (unpacking ? source : destination).span().data();
  for (auto _ : state) {
    loop(matrix.rows, matrix.columns, matrix_elements, buffer_elements);
    benchmark::ClobberMemory();
  }
  count_matrix_bytes(state, elements * sizeof(Element));
}

// The same kernels called directly through one SIMD path, for comparing the paths the
// processor runs; the shapes measured need no padding.
template <typename Element>
void move_through_path(benchmark::State& state, Matrix matrix, BlockLayout layout,
                       kernels::SimdPath path, bool unpacking) {
  const std::size_t elements = std::size_t{matrix.rows} * matrix.columns;
  AlignedElements<Element> from(elements), to(elements);
  const kernels::PackJob job{layout,         matrix.rows,    matrix.columns, matrix.rows,
                             matrix.columns, matrix.columns, sizeof(Element)};
  const auto* source = reinterpret_cast<const std::byte*>(from.span().data());
  auto* destination = reinterpret_cast<std::byte*>(to.span().data());
  for (auto _ : state) {
    if (unpacking) {
      kernels::unpack(path, job, source, destination);
    } else {
      kernels::pack(path, job, source, destination);
    }
    benchmark::ClobberMemory();
  }
  count_matrix_bytes(state, elements * sizeof(Element));
}

const std::vector<std::string> ways{"pack", "unpack", "loop pack", "loop unpack", "per-element"};
const Matrix& path_matrix = matrices.front();

// "f32 64x64/pack/KivA8", or "f32 64x64/memcpy" without a layout.
std::string benchmark_name(std::string_view matrix, std::string_view way,
                           std::string_view layout = {}) {
  std::string name;
  name.append(matrix).append("/").append(way);
  if (!layout.empty()) name.append("/").append(layout);
  return name;
}

// The console report, then per matrix one line per layout: GB/s and the ratio to memcpy.
class ThroughputReporter : public benchmark::ConsoleReporter {
 public:
  ThroughputReporter() : ConsoleReporter(zum_bench::console_options()) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto bytes = run.counters.find("bytes_per_second");
      if (!zum_bench::stands_for_benchmark(run) || bytes == run.counters.end()) continue;
      gigabytes_per_second_[run.run_name.function_name] = bytes->second.value / 1e9;
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const Matrix& matrix : matrices) {
      const auto memcpy_speed = find(benchmark_name(matrix.name, "memcpy"));
      if (memcpy_speed == 0) continue;
      std::printf("\n%s: memcpy %.1f GB/s\n%-10s", matrix.name, memcpy_speed, "layout");
      for (const std::string& way : ways) std::printf(" %12s GB/s %6s", way.c_str(), "x");
      std::printf("\n");
      for (const BlockLayout layout : all_block_layouts) {
        std::printf("%-10s", std::string(layout_name(layout)).c_str());
        for (const std::string& way : ways) {
          const double speed = find(benchmark_name(matrix.name, way, layout_name(layout)));
          std::printf(" %17.2f %6.3f", speed, speed / memcpy_speed);
        }
        std::printf("\n");
      }
    }
    print_paths();
  }

 private:
  // Pack and unpack through each path, as ratios to the same run's memcpy.
  void print_paths() const {
    const auto memcpy_speed = find(benchmark_name(path_matrix.name, "memcpy"));
    if (memcpy_speed == 0) return;
    std::printf("\n%s through each path, x memcpy\n%-10s", path_matrix.name, "layout");
    for (const kernels::SimdPath path : kernels::runnable_simd_paths()) {
      const std::string name(kernels::simd_path_name(path));
      std::printf(" %14s %14s", (name + " pack").c_str(), (name + " unpack").c_str());
    }
    std::printf("\n");
    for (const BlockLayout layout : all_block_layouts) {
      std::printf("%-10s", std::string(layout_name(layout)).c_str());
      for (const kernels::SimdPath path : kernels::runnable_simd_paths()) {
        const std::string name(kernels::simd_path_name(path));
        for (const char* way : {" pack", " unpack"}) {
          const double speed =
              find(benchmark_name(path_matrix.name, name + way, layout_name(layout)));
          std::printf(" %14.3f", speed / memcpy_speed);
        }
      }
      std::printf("\n");
    }
  }

  double find(const std::string& name) const {
    const auto found = gigabytes_per_second_.find(name);
    return found == gigabytes_per_second_.end() ? 0 : found->second;
  }

  std::map<std::string, double> gigabytes_per_second_;
};

template <typename Element>
void register_matrix(const Matrix& matrix) {
  benchmark::RegisterBenchmark(benchmark_name(matrix.name, "memcpy").c_str(),
                               copy_with_memcpy<Element>, matrix);
  for (const BlockLayout layout : all_block_layouts) {
    const std::string_view layout_text = layout_name(layout);
    benchmark::RegisterBenchmark(benchmark_name(matrix.name, "pack", layout_text).c_str(),
                                 pack_matrix<Element>, matrix, layout);
    benchmark::RegisterBenchmark(benchmark_name(matrix.name, "unpack", layout_text).c_str(),
                                 unpack_matrix<Element>, matrix, layout);
    benchmark::RegisterBenchmark(benchmark_name(matrix.name, "per-element", layout_text).c_str(),
                                 pack_per_element<Element>, matrix, layout);
    for (const bool unpacking : {false, true}) {
      const char* way = unpacking ? "loop unpack" : "loop pack";
      benchmark::RegisterBenchmark(benchmark_name(matrix.name, way, layout_text).c_str(),
                                   move_with_loop<Element>, matrix, layout, unpacking);
    }
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  for (const Matrix& matrix : matrices) {
    if (matrix.element_bytes == 4) register_matrix<float>(matrix);
    if (matrix.element_bytes == 2) register_matrix<std::uint16_t>(matrix);
  }
  for (const kernels::SimdPath path : kernels::runnable_simd_paths()) {
    const std::string name(kernels::simd_path_name(path));
    for (const BlockLayout layout : all_block_layouts) {
      for (const bool unpacking : {false, true}) {
        const std::string way = name + (unpacking ? " unpack" : " pack");
        benchmark::RegisterBenchmark(
            benchmark_name(path_matrix.name, way, layout_name(layout)).c_str(),
            move_through_path<float>, path_matrix, layout, path, unpacking);
      }
    }
  }
  ThroughputReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
