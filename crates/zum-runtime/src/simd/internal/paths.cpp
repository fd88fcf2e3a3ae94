#include "simd/internal/paths.hpp"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string_view>
#include <vector>

namespace zum_runtime::simd {
namespace {

using enum SimdPath;

constexpr std::array<std::string_view, 7> isa_limit_names{
    "generic", "sse2", "avx2", "avx512", "avx512_vnni", "avx512_bf16", "native"};

// Each path's own level of the limit: the four paths are its first four levels, in order.
constexpr IsaLimit limit_of(SimdPath path) {
  return static_cast<IsaLimit>(path);
}

IsaLimit read_isa_limit() {
  const char* value = std::getenv("ZUM_MAX_ISA");
  const std::optional<IsaLimit> limit = parse_isa_limit(value);
  if (limit) return *limit;
  std::fprintf(stderr,
               "zum_runtime: ZUM_MAX_ISA=%s is none of generic, sse2, avx2, avx512, avx512_vnni, "
               "avx512_bf16 and native; it is ignored\n",
               value);
  return IsaLimit::native;
}

bool processor_runs(SimdPath path) {
  if (limit_of(path) > isa_limit()) return false;
#if ZUM_X86_64
  __builtin_cpu_init();
  switch (path) {
    case generic:
    case sse2:
      return true;
    case avx2:
      return __builtin_cpu_supports("avx2");
    case avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq");
  }
  return false;
#else
  return path == generic;
#endif
}

}  // namespace

std::optional<IsaLimit> parse_isa_limit(const char* value) {
  if (value == nullptr) return IsaLimit::native;
  const auto found = std::ranges::find(isa_limit_names, std::string_view(value));
  if (found == isa_limit_names.end()) return std::nullopt;
  return static_cast<IsaLimit>(found - isa_limit_names.begin());
}

IsaLimit isa_limit() {
  static const IsaLimit limit = read_isa_limit();
  return limit;
}

bool processor_has_bf16_dot_products() {
#if ZUM_X86_64
  static const bool has = isa_limit() >= IsaLimit::avx512_bf16 && processor_runs(avx512) &&
                          __builtin_cpu_supports("avx512bf16");
  return has;
#else
  return false;
#endif
}

bool processor_has_int8_dot_products() {
#if ZUM_X86_64
  static const bool has = isa_limit() >= IsaLimit::avx512_vnni && processor_runs(avx512) &&
                          __builtin_cpu_supports("avx512vnni");
  return has;
#else
  return false;
#endif
}

std::string_view simd_path_name(SimdPath path) {
  constexpr std::array<std::string_view, 4> names{"generic", "sse2", "avx2", "avx512"};
  return names.at(static_cast<std::size_t>(path));
}

std::span<const SimdPath> runnable_simd_paths() {
  static const std::vector<SimdPath> paths = [] {
    std::vector<SimdPath> runnable;
    std::ranges::copy_if(compiled_paths, std::back_inserter(runnable), processor_runs);
    return runnable;
  }();
  return paths;
}

bool processor_halves_512_bit_vectors() {
#if ZUM_X86_64
  static const bool halves = [] {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0) return false;
    // "AuthenticAMD", as cpuid spells it across ebx, edx and ecx.
    const bool amd = ebx == 0x68747541 && edx == 0x69746e65 && ecx == 0x444d4163;
    if (!amd || __get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    const unsigned base_family = (eax >> 8) & 0xfu;
    const unsigned family = base_family == 0xfu ? base_family + ((eax >> 20) & 0xffu) : base_family;
    __builtin_cpu_init();
    return family == 0x19 && __builtin_cpu_supports("avx512f");
  }();
  return halves;
#else
  return false;
#endif
}

bool processor_has_fma() {
#if ZUM_X86_64
  __builtin_cpu_init();
  return __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

}  // namespace zum_runtime::simd
