// GEMM speed: zum_runtime::gemm::multiply beside OpenBLAS and BLIS, each through its own cblas,
// single-threaded, in the same run, and the core's FMA peak from a loop of independent FMAs.
// The peers are loaded with dlopen when present; without them the project's figures show alone.
// Ends with a table: GFLOPS of each, the ratio to the faster peer and to the FMA peak; then
// the bfloat16 rows beside oneDNN (bf16_rows.cpp).
// `zum-gemm-bench shapes [--seed S] [--count N]` runs shapes drawn at random instead, and sums
// the ratios up: the share at least level with the faster peer, the worst and the geometric mean.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <immintrin.h>
#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bf16_rows.hpp"
#include "gemm/gemm.hpp"
#include "gemm/internal/driver.hpp"
#include "int8_rows.hpp"
#include "random_shapes.hpp"
#include "reporting.hpp"

namespace {

using std::size_t;
using zum_runtime::gemm::Transpose;

struct Shape {
  size_t m, n, k;
  Transpose transpose_a = Transpose::no;
  Transpose transpose_b = Transpose::no;
  unsigned threads = 1;
  bool packed_b = false;  // zum multiplies with a PackedB made before timing
};

template <typename T>
std::string shape_name(const Shape& s) {
  std::string name = std::string(sizeof(T) == 4 ? "f32 " : "f64 ") + std::to_string(s.m) + "x" +
                     std::to_string(s.n) + "x" + std::to_string(s.k);
  if (s.transpose_a == Transpose::yes) name += " A^T";
  if (s.transpose_b == Transpose::yes) name += " B^T";
  if (s.packed_b) name += " packed";
  if (s.threads != 1) name.append(" ").append(std::to_string(s.threads)).append(" threads");
  return name;
}

const std::vector<Shape> float_shapes{
    {64, 64, 64},
    {128, 128, 128},
    {256, 256, 256},
    {512, 512, 512},
    {1024, 1024, 1024},
    {2048, 2048, 2048},
    {1, 1024, 1024},
    {16, 1024, 1024},
    {1024, 16, 1024},
    {256, 4096, 256},
    {100, 300, 77},
    {1024, 1024, 1024, Transpose::yes, Transpose::no},
    {1024, 1024, 1024, Transpose::no, Transpose::yes},
    {1024, 1024, 1024, Transpose::no, Transpose::no, 2},
    {2048, 2048, 2048, Transpose::no, Transpose::no, 2},
    {16, 1024, 1024, Transpose::no, Transpose::no, 1, true},
    {1, 1024, 1024, Transpose::no, Transpose::no, 1, true},
};
const std::vector<Shape> double_shapes{{256, 256, 256}, {1024, 1024, 1024}};

// Operands in 64-byte-aligned memory, filled with values in [-1, 1].
template <typename T>
struct Operands {
  struct Free {
    void operator()(T* p) const { std::free(p); }
  };
  using Memory = std::unique_ptr<T[], Free>;
  Shape shape;
  Memory a, b, c;

  static Memory filled(size_t count, unsigned seed) {
    Memory memory(static_cast<T*>(std::aligned_alloc(64, (count * sizeof(T) + 63) / 64 * 64)));
    std::mt19937 generator(seed);
    std::uniform_real_distribution<T> value(T(-1), T(1));
    for (size_t i = 0; i < count; ++i) memory[i] = value(generator);
    return memory;
  }
  explicit Operands(const Shape& s)
      : shape(s), a(filled(s.m * s.k, 1)), b(filled(s.k * s.n, 2)), c(filled(s.m * s.n, 3)) {}

  // Row strides of the stored matrices.
  size_t lda() const { return shape.transpose_a == Transpose::no ? shape.k : shape.m; }
  size_t ldb() const { return shape.transpose_b == Transpose::no ? shape.n : shape.k; }
};

void count_flops(benchmark::State& state, const Shape& s) {
  state.counters["GFLOPS"] = benchmark::Counter(2.0 * double(s.m) * double(s.n) * double(s.k) / 1e9,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

template <typename T>
void zum_multiply(benchmark::State& state, Shape s) {
  Operands<T> x(s);
  const zum_runtime::gemm::Options options{s.threads};
  const std::span<const T> a{x.a.get(), s.m * s.k}, b{x.b.get(), s.k * s.n};
  const std::span<T> c{x.c.get(), s.m * s.n};
  if (s.packed_b) {
    const auto packed = zum_runtime::gemm::pack_b<T>(s.transpose_b, s.k, s.n, b, x.ldb());
    for (auto _ : state) {
      zum_runtime::gemm::multiply<T>(s.transpose_a, s.m, T(1), a, x.lda(), packed, T(0), c, s.n,
                                     options);
      benchmark::ClobberMemory();
    }
  } else {
    for (auto _ : state) {
      zum_runtime::gemm::multiply<T>(s.transpose_a, s.transpose_b, s.m, s.n, s.k, T(1), a, x.lda(),
                                     b, x.ldb(), T(0), c, s.n, options);
      benchmark::ClobberMemory();
    }
  }
  count_flops(state, s);
}

// The shapes around each switch between ways of running, each run every way that applies.
using zum_runtime::gemm::driver::Strategy;
const std::vector<std::pair<Strategy, const char*>> strategies{
    {Strategy::sweep, "sweep"},       {Strategy::stored, "stored"},
    {Strategy::stored_a, "stored_a"}, {Strategy::blocked, "blocked"},
    {Strategy::columns, "columns"},   {Strategy::small, "small"},
};
const std::vector<Shape> switch_shapes{
    {1, 1024, 1024},
    {2, 1024, 1024},
    {4, 1024, 1024},
    {6, 1024, 1024},
    {8, 1024, 1024},
    {16, 1024, 1024},
    {24, 1024, 1024},
    {32, 1024, 1024},
    {1024, 8, 1024},
    {1024, 16, 1024},
    {1024, 24, 1024},
    {1024, 64, 1024},
    {1024, 96, 1024},
    {64, 64, 64},
    {96, 96, 96},
    {128, 128, 128},
    // Shallow k and few columns, as shapes drawn at random often are.
    {9, 557, 7},
    {43, 425, 1},
    {26, 423, 20},
    {24, 383, 65},
    {491, 132, 1},
    {16, 8, 2},
    {32, 6, 7},
    {77, 7, 4},
    {5, 12, 696},
    {16, 10, 619},
    {127, 4, 29},
    {509, 1, 53},
    // Few columns of op(B) over k: dot products along k against a narrow panel.
    {200, 4, 8},
    {200, 4, 24},
    {200, 4, 48},
    {200, 4, 96},
    {200, 4, 192},
    {200, 3, 24},
    {200, 3, 96},
    {527, 2, 1},
    {200, 2, 2},
    {200, 2, 4},
    {200, 4, 2},
    {200, 4, 4},
    {200, 2, 8},
    {200, 2, 24},
    {200, 2, 48},
    {200, 1, 48},
    {200, 1, 96},
    // A transposed B, shallow: both packed, or op(A) where stored.
    {484, 204, 2, Transpose::no, Transpose::yes},
    {13, 178, 3, Transpose::no, Transpose::yes},
    {300, 300, 8, Transpose::no, Transpose::yes},
    {300, 300, 32, Transpose::no, Transpose::yes},
    {300, 300, 64, Transpose::no, Transpose::yes},
    {300, 300, 128, Transpose::no, Transpose::yes},
    {300, 300, 8, Transpose::yes, Transpose::yes},
    {300, 300, 32, Transpose::yes, Transpose::no},
    // Tiny calls, summed result by result or through the kernels.
    {2, 2, 1},
    {4, 4, 3},
    {12, 4, 1, Transpose::yes},
    {9, 6, 3},
    {8, 16, 4},
    {5, 9, 10},
    {3, 3, 24},
    {1, 4, 66},
    {1, 6, 40},
    {8, 21, 2, Transpose::no, Transpose::yes},
    {8, 8, 8, Transpose::yes, Transpose::yes},
    {16, 16, 2},
    {4, 32, 4},
    {1, 1, 100},
    // A few rows against many columns: swept, or both where stored.
    {4, 18, 117},
    {4, 40, 1},
    {5, 24, 1},
    {4, 98, 10},
    {3, 158, 24},
    {1, 78, 30},
    {5, 49, 38},
    {2, 106, 83},
    {4, 300, 300},
};

void zum_strategy(benchmark::State& state, Shape s, Strategy strategy) {
  Operands<float> x(s);
  const zum_runtime::gemm::driver::Problem<float> problem{s.transpose_a,
                                                          s.transpose_b,
                                                          s.m,
                                                          s.n,
                                                          s.k,
                                                          1.0f,
                                                          {x.a.get(), s.m * s.k},
                                                          x.lda(),
                                                          {x.b.get(), s.k * s.n},
                                                          x.ldb(),
                                                          0.0f,
                                                          {x.c.get(), s.m * s.n},
                                                          s.n};
  const auto path = zum_runtime::gemm::kernels::runnable_paths().back();
  for (auto _ : state) {
    zum_runtime::gemm::driver::run(problem, path, strategy);
    benchmark::ClobberMemory();
  }
  count_flops(state, s);
}

// The peers' cblas entry points, as both libraries declare them (32-bit integers).
constexpr int row_major = 101, no_transpose = 111, transpose = 112;
template <typename T>
using CblasGemm = void (*)(int, int, int, int, int, int, T, const T*, int, const T*, int, T, T*,
                           int);

struct Peer {
  const char* name;
  const char* library;
  const char* set_threads_symbol;
  CblasGemm<float> sgemm = nullptr;
  CblasGemm<double> dgemm = nullptr;
  void* set_threads = nullptr;  // openblas_set_num_threads(int), bli_thread_set_num_threads(int64)

  void use_threads(unsigned threads) const {
    if (std::string_view(name) == "openblas") {
      reinterpret_cast<void (*)(int)>(set_threads)(int(threads));
    } else {
      reinterpret_cast<void (*)(std::int64_t)>(set_threads)(threads);
    }
  }
};

template <typename T>
CblasGemm<T> gemm_of(const Peer& peer) {
  if constexpr (sizeof(T) == 4) {
    return peer.sgemm;
  } else {
    return peer.dgemm;
  }
}

template <typename T>
void peer_multiply(benchmark::State& state, Shape s, const Peer* peer) {
  Operands<T> x(s);
  const auto gemm = gemm_of<T>(*peer);
  const auto blas_transpose = [](Transpose t) {
    return t == Transpose::no ? no_transpose : transpose;
  };
  peer->use_threads(s.threads);
  for (auto _ : state) {
    gemm(row_major, blas_transpose(s.transpose_a), blas_transpose(s.transpose_b), int(s.m),
         int(s.n), int(s.k), T(1), x.a.get(), int(x.lda()), x.b.get(), int(x.ldb()), T(0),
         x.c.get(), int(s.n));
    benchmark::ClobberMemory();
  }
  peer->use_threads(1);
  count_flops(state, s);
}

// Each peer in its own namespace of symbols: both export the same cblas names.
std::vector<Peer> load_peers() {
  std::vector<Peer> peers;
  for (Peer peer : {Peer{"openblas", "libopenblas.so.0", "openblas_set_num_threads"},
                    Peer{"blis", "libblis.so.4", "bli_thread_set_num_threads"}}) {
    void* handle = dlopen(peer.library, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      std::fprintf(stderr, "%s not loaded (%s): its figures are left out\n", peer.name, dlerror());
      continue;
    }
    peer.sgemm = reinterpret_cast<CblasGemm<float>>(dlsym(handle, "cblas_sgemm"));
    peer.dgemm = reinterpret_cast<CblasGemm<double>>(dlsym(handle, "cblas_dgemm"));
    peer.set_threads = dlsym(handle, peer.set_threads_symbol);
    if (peer.sgemm != nullptr && peer.dgemm != nullptr && peer.set_threads != nullptr) {
      peers.push_back(peer);
    }
  }
  return peers;
}

// Sixteen independent FMAs on the widest vectors, repeated: the core's peak float rate.
constexpr int peak_rounds = 1000;
constexpr int peak_chains = 16;

[[gnu::target("avx512f")]] void fma_peak_avx512(benchmark::State& state) {
  __m512 acc[peak_chains];
  for (int i = 0; i < peak_chains; ++i) acc[i] = _mm512_set1_ps(float(i));
  const __m512 x = _mm512_set1_ps(0.999f), y = _mm512_set1_ps(0.001f);
  for (auto _ : state) {
    for (int round = 0; round < peak_rounds; ++round) {
      for (int i = 0; i < peak_chains; ++i) acc[i] = _mm512_fmadd_ps(acc[i], x, y);
    }
  }
  for (auto& a : acc) benchmark::DoNotOptimize(a);
  state.counters["GFLOPS"] = benchmark::Counter(peak_rounds * peak_chains * 32 / 1e9,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

[[gnu::target("avx2,fma")]] void fma_peak_avx2(benchmark::State& state) {
  __m256 acc[peak_chains];
  for (int i = 0; i < peak_chains; ++i) acc[i] = _mm256_set1_ps(float(i));
  const __m256 x = _mm256_set1_ps(0.999f), y = _mm256_set1_ps(0.001f);
  for (auto _ : state) {
    for (int round = 0; round < peak_rounds; ++round) {
      for (int i = 0; i < peak_chains; ++i) acc[i] = _mm256_fmadd_ps(acc[i], x, y);
    }
  }
  for (auto& a : acc) benchmark::DoNotOptimize(a);
  state.counters["GFLOPS"] = benchmark::Counter(peak_rounds * peak_chains * 16 / 1e9,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

const std::vector<std::string> implementations{"zum", "openblas", "blis"};

// The console report, then one line per shape: GFLOPS of each implementation, zum ÷ the
// faster peer, and zum ÷ the FMA peak.
class GflopsReporter : public benchmark::ConsoleReporter {
 public:
  GflopsReporter(std::vector<std::string> shapes, bool summarize)
      : ConsoleReporter(zum_bench::console_options()),
        shapes_(std::move(shapes)),
        summarize_(summarize) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto rate = run.counters.find("GFLOPS");
      if (rate == run.counters.end()) rate = run.counters.find("GOPS");
      if (rate == run.counters.end()) rate = run.counters.find("GBps");
      if (!zum_bench::stands_for_benchmark(run) || rate == run.counters.end()) continue;
      gflops_[run.run_name.function_name] = rate->second.value;
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    print_strategies();
    const double peak = find("fma peak");
    std::printf("\nFMA peak: %.1f GFLOPS\n%-22s %9s %9s %9s %12s %10s\n", peak, "shape", "zum",
                "openblas", "blis", "zum / peer", "zum / peak");
    zum_bench::RatioSummary summary;
    for (const std::string& shape : shapes_) {
      const double zum = find(shape + "/zum");
      const double openblas = find(shape + "/openblas");
      const double blis = find(shape + "/blis");
      const double best_peer = std::max(openblas, blis);
      std::printf("%-22s %9.1f %9.1f %9.1f %12.2f %10.2f\n", shape.c_str(), zum, openblas, blis,
                  best_peer > 0 ? zum / best_peer : 0.0, peak > 0 ? zum / peak : 0.0);
      if (zum > 0 && best_peer > 0) summary.add(shape, zum / best_peer);
    }
    if (summarize_) print_summary(summary);
    zum_bench::print_bf16_table([this](const std::string& name) { return find(name); });
    zum_bench::print_int8_table([this](const std::string& name) { return find(name); });
  }

 private:
  static void print_summary(const zum_bench::RatioSummary& summary) {
    if (summary.shapes == 0) {
      std::printf("\nshapes: no shape ran with a peer beside it\n");
      return;
    }
    std::printf(
        "\nshapes: %zu of %zu (%.0f %%) at >= 1.0x the faster peer, worst %.2fx (%s), "
        "geometric mean %.2fx\n",
        summary.at_least_level, summary.shapes, 100 * summary.share_at_least_level(), summary.worst,
        summary.worst_shape.c_str(), summary.geometric_mean());
  }

  // GFLOPS of each way of running at the shapes around the switches; "chosen" is multiply's.
  void print_strategies() const {
    if (find(shape_name<float>(switch_shapes.front()) + "/blocked") == 0) return;
    std::printf("\nways of running, GFLOPS\n%-22s", "shape");
    for (const auto& [strategy, name] : strategies) std::printf(" %9s", name);
    std::printf(" %9s\n", "chosen");
    for (const Shape& shape : switch_shapes) {
      const std::string name = shape_name<float>(shape);
      std::printf("%-22s", name.c_str());
      for (const auto& [strategy, way] : strategies) std::printf(" %9.1f", find(name + "/" + way));
      std::printf(" %9.1f\n", find(name + "/chosen"));
    }
  }

  double find(const std::string& name) const {
    const auto found = gflops_.find(name);
    return found == gflops_.end() ? 0 : found->second;
  }

  std::vector<std::string> shapes_;
  bool summarize_;
  std::map<std::string, double> gflops_;
};

template <typename T>
void register_shapes(const std::vector<Shape>& shapes, const std::vector<Peer>& peers,
                     std::vector<std::string>& names) {
  for (const Shape& shape : shapes) {
    const std::string name = shape_name<T>(shape);
    names.push_back(name);
    benchmark::RegisterBenchmark((name + "/zum").c_str(), zum_multiply<T>, shape);
    if (shape.packed_b) continue;
    for (const Peer& peer : peers) {
      benchmark::RegisterBenchmark((name + "/" + peer.name).c_str(), peer_multiply<T>, shape,
                                   &peer);
    }
  }
}

std::vector<Shape> drawn_shapes(std::uint64_t seed, size_t count) {
  std::vector<Shape> shapes;
  for (const zum_bench::RandomShape& s : zum_bench::random_shapes(seed, count)) {
    shapes.push_back({s.m, s.n, s.k, s.transpose_a ? Transpose::yes : Transpose::no,
                      s.transpose_b ? Transpose::yes : Transpose::no});
  }
  return shapes;
}

void register_fma_peak() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) {
    benchmark::RegisterBenchmark("fma peak", fma_peak_avx512);
  } else if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
    benchmark::RegisterBenchmark("fma peak", fma_peak_avx2);
  }
}

void register_strategies() {
  for (const Shape& shape : switch_shapes) {
    const std::string name = shape_name<float>(shape);
    for (const auto& [strategy, way] : strategies) {
      benchmark::RegisterBenchmark((name + "/" + way).c_str(), zum_strategy, shape, strategy);
    }
    benchmark::RegisterBenchmark((name + "/chosen").c_str(), zum_strategy, shape, Strategy::chosen);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  // The peers run on one thread, as the project does.
  for (const char* variable : {"OPENBLAS_NUM_THREADS", "BLIS_NUM_THREADS", "OMP_NUM_THREADS"}) {
    setenv(variable, "1", 1);
  }
  benchmark::Initialize(&argc, argv);
  CLI::App app{
      "GEMM speed beside OpenBLAS and BLIS (Google Benchmark's --benchmark_* flags apply)"};
  CLI::App* shapes_mode = app.add_subcommand("shapes", "float shapes drawn at random, summed up");
  std::uint64_t seed = 1;
  size_t count = 60;
  shapes_mode->add_option("--seed", seed, "the draw's seed")->capture_default_str();
  shapes_mode->add_option("--count", count, "how many shapes")
      ->capture_default_str()
      ->check(CLI::Range(1, 10000));
  CLI11_PARSE(app, argc, argv);

  static const std::vector<Peer> peers = load_peers();
  std::vector<std::string> names;
  if (shapes_mode->parsed()) {
    register_shapes<float>(drawn_shapes(seed, count), peers, names);
  } else {
    register_shapes<float>(float_shapes, peers, names);
    register_shapes<double>(double_shapes, peers, names);
    register_strategies();
    zum_bench::register_bf16_rows();
    zum_bench::register_int8_rows();
  }
  register_fma_peak();
  GflopsReporter reporter(names, shapes_mode->parsed());
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
