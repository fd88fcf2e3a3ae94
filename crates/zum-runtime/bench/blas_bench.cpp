// libzum_blas's cblas_sgemm and cblas_dgemm beside OpenBLAS's own, one thread each, in the same
// run: both layouts, NN, TN and NT, on the named shapes. OpenBLAS is loaded with dlopen, in its
// own namespace of symbols (both export the same names); without it libzum_blas shows alone.
// Ends with a table: GFLOPS of each and libzum_blas ÷ OpenBLAS.
#include <zum_runtime/blas.h>

#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "reporting.hpp"

namespace {

template <typename T>
using CblasGemm = void (*)(CBLAS_LAYOUT, CBLAS_TRANSPOSE, CBLAS_TRANSPOSE, int, int, int, T,
                           const T*, int, const T*, int, T, T*, int);

struct Case {
  int m, n, k;
  CBLAS_LAYOUT layout;
  CBLAS_TRANSPOSE transa, transb;
  bool is_double = false;
};

std::string case_name(const Case& c) {
  const auto letter = [](CBLAS_TRANSPOSE t) { return t == CblasNoTrans ? "N" : "T"; };
  return std::string(c.is_double ? "f64 " : "f32 ") + std::to_string(c.m) + "x" +
         std::to_string(c.n) + "x" + std::to_string(c.k) + " " + letter(c.transa) +
         letter(c.transb) + (c.layout == CblasRowMajor ? " row" : " col");
}

std::vector<Case> cases() {
  std::vector<Case> all;
  const int shapes[][3] = {
      {256, 256, 256}, {1024, 1024, 1024}, {16, 1024, 1024}, {1024, 16, 1024}, {100, 300, 77}};
  for (const auto layout : {CblasColMajor, CblasRowMajor}) {
    for (const auto& [ta, tb] : {std::pair{CblasNoTrans, CblasNoTrans},
                                 {CblasTrans, CblasNoTrans},
                                 {CblasNoTrans, CblasTrans}}) {
      for (const auto& s : shapes) all.push_back({s[0], s[1], s[2], layout, ta, tb});
    }
    all.push_back({1024, 1024, 1024, layout, CblasNoTrans, CblasNoTrans, true});
  }
  return all;
}

// The stored operands of a case, with the leading dimensions its layout and transposes need.
template <typename T>
struct Operands {
  int lda, ldb, ldc;
  std::vector<T> a, b, c;
  explicit Operands(const Case& x) {
    const bool row_major = x.layout == CblasRowMajor;
    const int a_rows = x.transa == CblasNoTrans ? x.m : x.k;
    const int a_columns = x.transa == CblasNoTrans ? x.k : x.m;
    const int b_rows = x.transb == CblasNoTrans ? x.k : x.n;
    const int b_columns = x.transb == CblasNoTrans ? x.n : x.k;
    lda = row_major ? a_columns : a_rows;
    ldb = row_major ? b_columns : b_rows;
    ldc = row_major ? x.n : x.m;
    std::mt19937 random(1);
    std::uniform_real_distribution<T> value(-1, 1);
    a.resize(std::size_t(a_rows) * std::size_t(a_columns));
    b.resize(std::size_t(b_rows) * std::size_t(b_columns));
    c.resize(std::size_t(x.m) * std::size_t(x.n));
    for (auto* values : {&a, &b, &c})
      std::generate(values->begin(), values->end(), [&] { return value(random); });
  }
};

template <typename T>
void run_gemm(benchmark::State& state, Case x, CblasGemm<T> gemm) {
  Operands<T> o(x);
  for (auto _ : state) {
    gemm(x.layout, x.transa, x.transb, x.m, x.n, x.k, T(1), o.a.data(), o.lda, o.b.data(), o.ldb,
         T(0), o.c.data(), o.ldc);
    benchmark::ClobberMemory();
  }
  state.counters["GFLOPS"] = benchmark::Counter(2.0 * x.m * x.n * x.k / 1e9,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

struct OpenBlas {
  CblasGemm<float> sgemm = nullptr;
  CblasGemm<double> dgemm = nullptr;
};

OpenBlas load_openblas() {
  void* handle = dlopen("libopenblas.so.0", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "OpenBLAS not loaded (%s): its figures are left out\n", dlerror());
    return {};
  }
  auto set_threads = reinterpret_cast<void (*)(int)>(dlsym(handle, "openblas_set_num_threads"));
  if (set_threads != nullptr) set_threads(1);
  return {reinterpret_cast<CblasGemm<float>>(dlsym(handle, "cblas_sgemm")),
          reinterpret_cast<CblasGemm<double>>(dlsym(handle, "cblas_dgemm"))};
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(std::vector<std::string> names)
      : ConsoleReporter(zum_bench::console_options()), names_(std::move(names)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto rate = run.counters.find("GFLOPS");
      if (zum_bench::stands_for_benchmark(run) && rate != run.counters.end()) {
        gflops_[run.run_name.function_name] = rate->second.value;
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-26s %9s %9s %12s\n", "cblas, one thread", "zum_blas", "openblas",
                "zum / peer");
    for (const std::string& name : names_) {
      const double zum = gflops_[name + "/zum_blas"], peer = gflops_[name + "/openblas"];
      std::printf("%-26s %9.1f %9.1f %12.2f\n", name.c_str(), zum, peer, peer > 0 ? zum / peer : 0);
    }
  }

 private:
  std::vector<std::string> names_;
  std::map<std::string, double> gflops_;
};

}  // namespace

int main(int argc, char* argv[]) {
  setenv("OPENBLAS_NUM_THREADS", "1", 1);
  zum_blas_set_num_threads(1);
  benchmark::Initialize(&argc, argv);
  static const OpenBlas openblas = load_openblas();
  std::vector<std::string> names;
  for (const Case& x : cases()) {
    const std::string name = case_name(x);
    names.push_back(name);
    if (x.is_double) {
      benchmark::RegisterBenchmark((name + "/zum_blas").c_str(), run_gemm<double>, x,
                                   CblasGemm<double>{cblas_dgemm});
      if (openblas.dgemm != nullptr) {
        benchmark::RegisterBenchmark((name + "/openblas").c_str(), run_gemm<double>, x,
                                     openblas.dgemm);
      }
    } else {
      benchmark::RegisterBenchmark((name + "/zum_blas").c_str(), run_gemm<float>, x,
                                   CblasGemm<float>{cblas_sgemm});
      if (openblas.sgemm != nullptr) {
        benchmark::RegisterBenchmark((name + "/openblas").c_str(), run_gemm<float>, x,
                                     openblas.sgemm);
      }
    }
  }
  RatioReporter reporter(names);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
