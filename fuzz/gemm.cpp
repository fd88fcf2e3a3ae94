// gemm::multiply over any transposes, small sizes, any strides (up to ones that overflow),
// alpha and beta from a set holding 0 and NaN, and A, B and C placed anywhere in one
// allocation, overlapping or not. Either the call panics and every element is as it was, or
// it returns with C within the accuracy bound of a long double reference and nothing outside
// C's m × n elements changed; it refuses exactly when its documented conditions hold.
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "fuzz_input.hpp"
#include "gemm/gemm.hpp"

namespace {

using zum_fuzz::require;
using zum_runtime::gemm::Transpose;
__extension__ typedef unsigned __int128 u128;

constexpr std::size_t arena_elements = 16384;
constexpr std::size_t max_size = 40;  // an input runs in well under a millisecond

struct Region {
  std::size_t offset, length;         // the span, in the arena
  std::size_t rows, columns, stride;  // the stored matrix
  u128 extent() const { return rows == 0 || columns == 0 ? 0 : u128(rows - 1) * stride + columns; }
  std::size_t at(std::size_t row, std::size_t column) const {
    return offset + row * stride + column;
  }
};

template <typename T>
struct Call {
  Transpose transpose_a, transpose_b;
  std::size_t m, n, k;
  T alpha, beta;
  Region a, b, c;
  bool reads() const { return m != 0 && n != 0 && k != 0 && alpha != T(0); }
};

template <typename T>
T scalar(zum_fuzz::Input& input) {
  const T values[] = {T(0), T(1), T(-1), T(0.5), std::numeric_limits<T>::quiet_NaN(), T(2)};
  return values[input.pick(6)];
}

Region region(zum_fuzz::Input& input, std::size_t rows, std::size_t columns) {
  const auto kind = input.take<std::uint8_t>();
  const std::size_t stride = kind % 16 == 15
                                 ? input.take<std::uint64_t>()
                                 : (columns + kind % 16 >= 2 ? columns + kind % 16 - 2 : 0);
  const std::size_t offset = input.take<std::uint16_t>() % arena_elements;
  const std::size_t length = input.take<std::uint16_t>() % (arena_elements - offset + 1);
  return {offset, length, rows, columns, stride};
}

template <typename T>
Call<T> read_call(zum_fuzz::Input& input) {
  Call<T> call{};
  call.transpose_a = input.pick(2) == 1 ? Transpose::yes : Transpose::no;
  call.transpose_b = input.pick(2) == 1 ? Transpose::yes : Transpose::no;
  call.m = input.pick(max_size + 1);
  call.n = input.pick(max_size + 1);
  call.k = input.pick(max_size + 1);
  call.alpha = scalar<T>(input);
  call.beta = scalar<T>(input);
  const bool ta = call.transpose_a == Transpose::yes, tb = call.transpose_b == Transpose::yes;
  call.a = region(input, ta ? call.k : call.m, ta ? call.m : call.k);
  call.b = region(input, tb ? call.n : call.k, tb ? call.k : call.n);
  call.c = region(input, call.m, call.n);
  return call;
}

// Marks the elements a stored matrix covers, rows of columns, `stride` apart.
template <typename Visit>
void for_each_element(const Region& r, Visit visit) {
  for (std::size_t row = 0; row < r.rows; ++row) {
    for (std::size_t column = 0; column < r.columns; ++column) visit(r.at(row, column));
  }
}

// The documented refusals, computed again here; overlap element by element.
template <typename T>
bool refused(const Call<T>& call) {
  for (const Region* r : {&call.a, &call.b, &call.c}) {
    if (r->stride < r->columns) return true;
  }
  if (call.m == 0 || call.n == 0) return false;
  if (call.reads() && (call.a.extent() > call.a.length || call.b.extent() > call.b.length))
    return true;
  if (call.c.extent() > call.c.length) return true;
  if (!call.reads()) return false;
  std::vector<bool> in_c(arena_elements);
  for_each_element(call.c, [&](std::size_t at) { in_c[at] = true; });
  bool shared = false;
  for (const Region* r : {&call.a, &call.b}) {
    for_each_element(*r, [&](std::size_t at) { shared = shared || in_c[at]; });
  }
  return shared;
}

template <typename T>
T op_a(const Call<T>& call, const std::vector<T>& x, std::size_t i, std::size_t p) {
  return x[call.transpose_a == Transpose::no ? call.a.at(i, p) : call.a.at(p, i)];
}
template <typename T>
T op_b(const Call<T>& call, const std::vector<T>& x, std::size_t p, std::size_t j) {
  return x[call.transpose_b == Transpose::no ? call.b.at(p, j) : call.b.at(j, p)];
}

// Each element of C within (k + 2) ε (|alpha| Σ|a||b| + |beta c|) of the long double result,
// or NaN where a NaN alpha or beta reaches it; everything else as it was.
template <typename T>
void check_result(const Call<T>& call, const std::vector<T>& before, const std::vector<T>& after) {
  std::vector<bool> in_c(arena_elements);
  for_each_element(call.c, [&](std::size_t at) { in_c[at] = true; });
  for (std::size_t at = 0; at < arena_elements; ++at) {
    if (!in_c[at])
      require(std::memcmp(&before[at], &after[at], sizeof(T)) == 0, "nothing outside C changes");
  }
  const bool beta_reads = call.beta != T(0);
  for (std::size_t i = 0; i < call.m; ++i) {
    for (std::size_t j = 0; j < call.n; ++j) {
      long double sum = 0, magnitude = 0;
      for (std::size_t p = 0; call.reads() && p < call.k; ++p) {
        const long double product =
            (long double)op_a(call, before, i, p) * op_b(call, before, p, j);
        sum += product;
        magnitude += std::fabs(product);
      }
      const T result = after[call.c.at(i, j)];
      if ((call.reads() && std::isnan(call.alpha)) || (beta_reads && std::isnan(call.beta))) {
        require(std::isnan(result), "a NaN alpha or beta reaches C");
        continue;
      }
      const long double c_term = beta_reads ? (long double)call.beta * before[call.c.at(i, j)] : 0;
      const long double alpha = call.reads() ? call.alpha : 0;
      const long double exact = alpha * sum + c_term;
      const long double bound = (long double)(call.k + 2) * std::numeric_limits<T>::epsilon() *
                                (std::fabs(alpha) * magnitude + std::fabs(c_term));
      require(std::fabs(result - exact) <= bound, "C is within the accuracy bound");
    }
  }
}

template <typename T>
void fuzz(zum_fuzz::Input& input) {
  const Call<T> call = read_call<T>(input);
  std::vector<T> arena(arena_elements);
  for (std::size_t i = 0; i < arena.size(); ++i) arena[i] = T(int(i * 37 % 17) - 8) / T(8);
  const std::vector<T> before = arena;
  const std::span<T> all(arena);
  bool panicked = false;
  try {
    zum_runtime::gemm::multiply<T>(call.transpose_a, call.transpose_b, call.m, call.n, call.k,
                                   call.alpha, all.subspan(call.a.offset, call.a.length),
                                   call.a.stride, all.subspan(call.b.offset, call.b.length),
                                   call.b.stride, call.beta,
                                   all.subspan(call.c.offset, call.c.length), call.c.stride);
  } catch (const zum_runtime::Panic&) {
    panicked = true;
  }
  require(panicked == refused(call), "refuses exactly when the documented conditions hold");
  if (panicked) {
    require(std::memcmp(arena.data(), before.data(), arena.size() * sizeof(T)) == 0,
            "a refusal leaves every element as it was");
  } else {
    check_result(call, before, arena);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zum_fuzz::Input input(data, size);
  if (input.pick(2) == 0) {
    fuzz<float>(input);
  } else {
    fuzz<double>(input);
  }
  return 0;
}
