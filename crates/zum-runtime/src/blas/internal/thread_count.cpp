#include "blas/internal/thread_count.hpp"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdlib>

#include <zum_runtime/blas.h>

namespace zum_runtime::blas {
namespace {

// Far beyond any machine's cores; a larger request is surely a typing error.
constexpr unsigned most_threads = 4096;

// 0: the default.
std::atomic<unsigned> chosen_threads{0};

// The GEMM's thread split counts cores the same way, but internally: a shared runtime does not
// export it to this library.
unsigned cores_available() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<unsigned>(CPU_COUNT(&set) > 0 ? CPU_COUNT(&set) : 1);
}

std::optional<unsigned> from_variable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return parse_thread_count(value);
}

}  // namespace

std::optional<unsigned> parse_thread_count(std::string_view text) {
  const std::string_view first = text.substr(0, text.find(','));
  unsigned count = 0;
  const auto [end, error] = std::from_chars(first.data(), first.data() + first.size(), count);
  if (error != std::errc{} || end != first.data() + first.size() || count == 0 ||
      count > most_threads) {
    return std::nullopt;
  }
  return count;
}

unsigned default_thread_count() {
  static const unsigned count = [] {
    if (const auto zum = from_variable("ZUM_NUM_THREADS")) return *zum;
    if (const auto omp = from_variable("OMP_NUM_THREADS")) return *omp;
    return cores_available();
  }();
  return count;
}

unsigned thread_count() {
  const unsigned chosen = chosen_threads.load(std::memory_order_relaxed);
  return chosen != 0 ? chosen : default_thread_count();
}

}  // namespace zum_runtime::blas

extern "C" __attribute__((visibility("default"))) void zum_blas_set_num_threads(int threads) {
  using zum_runtime::blas::most_threads;
  const unsigned count = threads < 1 ? 0u : std::min(static_cast<unsigned>(threads), most_threads);
  zum_runtime::blas::chosen_threads.store(count, std::memory_order_relaxed);
}

extern "C" __attribute__((visibility("default"))) int zum_blas_get_num_threads(void) {
  return static_cast<int>(zum_runtime::blas::thread_count());
}
