// gemm::multiply over any transposes, small sizes, any strides (up to ones that overflow),
// alpha and beta from a set holding 0 and NaN, and A, B and C placed anywhere in one
// allocation, overlapping or not. Either the call panics and every element is as it was, or
// it returns with C within the accuracy bound of a long double reference and nothing outside
// C's m × n elements changed; it refuses exactly when its documented conditions hold. The
// bfloat16 form is fuzzed the same way, its operands and C sharing the allocation's bytes, and
// so is the 8-bit integer form (unsigned or signed A, any zero points), checked exactly.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include "base/bfloat16.hpp"
#include "fuzz_input.hpp"
#include "gemm/gemm.hpp"

namespace {

using zum_fuzz::require;
using zum_runtime::bfloat16;
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

template <typename Visit>
void for_each_byte(const Region& r, std::size_t width, Visit visit) {
  for_each_element(r, [&](std::size_t at) {
    for (std::size_t byte = 0; byte < width; ++byte) visit(at * width + byte);
  });
}

// The documented refusals, computed again here; overlap is a shared byte of C's elements
// (`result_bytes` wide) and the operands' (`operand_bytes` wide), all counted from the arena's
// start.
template <typename T>
bool refused(const Call<T>& call, std::size_t operand_bytes, std::size_t result_bytes) {
  for (const Region* r : {&call.a, &call.b, &call.c}) {
    if (r->stride < r->columns) return true;
  }
  if (call.m == 0 || call.n == 0) return false;
  if (call.reads() && (call.a.extent() > call.a.length || call.b.extent() > call.b.length))
    return true;
  if (call.c.extent() > call.c.length) return true;
  if (!call.reads()) return false;
  std::vector<bool> in_c(arena_elements * result_bytes);
  for_each_byte(call.c, result_bytes, [&](std::size_t at) { in_c[at] = true; });
  bool shared = false;
  for (const Region* r : {&call.a, &call.b}) {
    for_each_byte(*r, operand_bytes, [&](std::size_t at) { shared = shared || in_c[at]; });
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
  require(panicked == refused(call, sizeof(T), sizeof(T)),
          "refuses exactly when the documented conditions hold");
  if (panicked) {
    require(std::memcmp(arena.data(), before.data(), arena.size() * sizeof(T)) == 0,
            "a refusal leaves every element as it was");
  } else {
    check_result(call, before, arena);
  }
}

// bfloat16 A and B, float C: regions count their own elements (2 and 4 bytes) from the start
// of one allocation of arena_elements floats, and overlap is a shared byte.

float bf16_at(const std::vector<std::byte>& bytes, std::size_t at) {
  bfloat16 value;
  std::memcpy(&value, bytes.data() + at * sizeof value, sizeof value);
  return zum_runtime::to_float(value);
}
float float_at(const std::vector<std::byte>& bytes, std::size_t at) {
  float value;
  std::memcpy(&value, bytes.data() + at * sizeof value, sizeof value);
  return value;
}

// The float bound plus (k + 2) · 2⁻¹²⁶ · (1 + |alpha|) for the subnormals the bfloat16 dot
// products take as zero.
void check_bf16_result(const Call<float>& call, const std::vector<std::byte>& before,
                       const std::vector<std::byte>& after) {
  std::vector<bool> in_c(before.size());
  for_each_byte(call.c, sizeof(float), [&](std::size_t at) { in_c[at] = true; });
  for (std::size_t at = 0; at < before.size(); ++at) {
    if (!in_c[at]) require(before[at] == after[at], "nothing outside C changes");
  }
  const bool beta_reads = call.beta != 0.0f;
  for (std::size_t i = 0; i < call.m; ++i) {
    for (std::size_t j = 0; j < call.n; ++j) {
      long double sum = 0, magnitude = 0;
      for (std::size_t p = 0; call.reads() && p < call.k; ++p) {
        const std::size_t a = call.transpose_a == Transpose::no ? call.a.at(i, p) : call.a.at(p, i);
        const std::size_t b = call.transpose_b == Transpose::no ? call.b.at(p, j) : call.b.at(j, p);
        const long double product = (long double)bf16_at(before, a) * bf16_at(before, b);
        sum += product;
        magnitude += std::fabs(product);
      }
      const float result = float_at(after, call.c.at(i, j));
      if ((call.reads() && std::isnan(call.alpha)) || (beta_reads && std::isnan(call.beta))) {
        require(std::isnan(result), "a NaN alpha or beta reaches C");
        continue;
      }
      const long double c_term =
          beta_reads ? (long double)call.beta * float_at(before, call.c.at(i, j)) : 0;
      const long double alpha = call.reads() ? call.alpha : 0;
      const long double k2 = (long double)(call.k + 2);
      const long double bound = k2 * std::numeric_limits<float>::epsilon() *
                                    (std::fabs(alpha) * magnitude + std::fabs(c_term)) +
                                k2 * std::ldexp(1.0L, -126) * (1 + std::fabs(alpha));
      require(std::fabs(result - (alpha * sum + c_term)) <= bound,
              "C is within the accuracy bound");
    }
  }
}

void fuzz_bf16(zum_fuzz::Input& input) {
  const Call<float> call = read_call<float>(input);
  // Finite bfloat16 values in every 2 bytes, so every 4 bytes are a finite float too.
  std::vector<std::byte> arena(arena_elements * sizeof(float));
  for (std::size_t i = 0; i < arena.size() / sizeof(bfloat16); ++i) {
    const float value = float(int(i * 37 % 17) - 8) / 8 + float(i % 5) / 64;
    const bfloat16 narrow = zum_runtime::to_bfloat16(value);
    std::memcpy(arena.data() + i * sizeof narrow, &narrow, sizeof narrow);
  }
  const std::vector<std::byte> before = arena;
  auto* const bf16s = reinterpret_cast<bfloat16*>(arena.data());
  auto* const floats = reinterpret_cast<float*>(arena.data());
  bool panicked = false;
  try {
    zum_runtime::gemm::multiply(
        call.transpose_a, call.transpose_b, call.m, call.n, call.k, call.alpha,
        std::span<const bfloat16>(bf16s + call.a.offset, call.a.length), call.a.stride,
        std::span<const bfloat16>(bf16s + call.b.offset, call.b.length), call.b.stride, call.beta,
        std::span<float>(floats + call.c.offset, call.c.length), call.c.stride);
  } catch (const zum_runtime::Panic&) {
    panicked = true;
  }
  require(panicked == refused(call, sizeof(bfloat16), sizeof(float)),
          "refuses exactly when the documented conditions hold");
  if (panicked) {
    require(arena == before, "a refusal leaves every byte as it was");
  } else {
    check_bf16_result(call, before, arena);
  }
}

// 8-bit A and B, int32 C, in one allocation's bytes: C exactly (accumulating or not) the sum
// of (a − za)(b − zb) modulo 2³², everything else as it was.
void check_int8_result(const Call<float>& call, bool signed_a, int a_zero, int b_zero,
                       bool accumulate, const std::vector<std::byte>& before,
                       const std::vector<std::byte>& after) {
  std::vector<bool> in_c(before.size());
  for_each_byte(call.c, sizeof(std::int32_t), [&](std::size_t at) { in_c[at] = true; });
  for (std::size_t at = 0; at < before.size(); ++at) {
    if (!in_c[at]) require(before[at] == after[at], "nothing outside C changes");
  }
  const auto byte = [&](std::size_t at) { return std::to_integer<std::uint8_t>(before[at]); };
  const auto int32_at = [](const std::vector<std::byte>& bytes, std::size_t at) {
    std::int32_t value;
    std::memcpy(&value, bytes.data() + at * sizeof value, sizeof value);
    return value;
  };
  for (std::size_t i = 0; i < call.m; ++i) {
    for (std::size_t j = 0; j < call.n; ++j) {
      std::int64_t sum = accumulate ? int32_at(before, call.c.at(i, j)) : 0;
      for (std::size_t p = 0; p < call.k; ++p) {
        const std::uint8_t a =
            byte(call.transpose_a == Transpose::no ? call.a.at(i, p) : call.a.at(p, i));
        const std::uint8_t b =
            byte(call.transpose_b == Transpose::no ? call.b.at(p, j) : call.b.at(j, p));
        const std::int64_t a_value = signed_a ? std::int64_t{std::int8_t(a)} : std::int64_t{a};
        sum += (a_value - a_zero) * (std::int64_t{std::int8_t(b)} - b_zero);
      }
      require(int32_at(after, call.c.at(i, j)) == std::int32_t(std::uint32_t(sum)),
              "C is exact modulo 2^32");
    }
  }
}

void fuzz_int8(zum_fuzz::Input& input) {
  Call<float> call = read_call<float>(input);
  call.alpha = 1.0f;  // the integer form always reads its operands
  const bool accumulate = call.beta != 0.0f;
  const bool signed_a = input.pick(2) == 1;
  const auto a_zero_byte = input.take<std::uint8_t>(), b_zero_byte = input.take<std::uint8_t>();
  std::vector<std::byte> arena(arena_elements * sizeof(std::int32_t));
  for (std::size_t i = 0; i < arena.size(); ++i) arena[i] = std::byte(i * 97 % 251);
  const std::vector<std::byte> before = arena;
  auto* const bytes = reinterpret_cast<std::uint8_t*>(arena.data());
  auto* const words = reinterpret_cast<std::int32_t*>(arena.data());
  const std::span<const std::int8_t> b(reinterpret_cast<const std::int8_t*>(bytes) + call.b.offset,
                                       call.b.length);
  const std::span<std::int32_t> c(words + call.c.offset, call.c.length);
  const auto how =
      accumulate ? zum_runtime::gemm::Accumulate::yes : zum_runtime::gemm::Accumulate::no;
  const auto b_zero = static_cast<std::int8_t>(b_zero_byte);
  bool panicked = false;
  try {
    if (signed_a) {
      zum_runtime::gemm::multiply(
          call.transpose_a, call.transpose_b, call.m, call.n, call.k,
          std::span<const std::int8_t>(reinterpret_cast<const std::int8_t*>(bytes) + call.a.offset,
                                       call.a.length),
          call.a.stride, static_cast<std::int8_t>(a_zero_byte), b, call.b.stride, b_zero, how, c,
          call.c.stride);
    } else {
      zum_runtime::gemm::multiply(
          call.transpose_a, call.transpose_b, call.m, call.n, call.k,
          std::span<const std::uint8_t>(bytes + call.a.offset, call.a.length), call.a.stride,
          a_zero_byte, b, call.b.stride, b_zero, how, c, call.c.stride);
    }
  } catch (const zum_runtime::Panic&) {
    panicked = true;
  }
  require(panicked == refused(call, 1, sizeof(std::int32_t)),
          "refuses exactly when the documented conditions hold");
  if (panicked) {
    require(arena == before, "a refusal leaves every byte as it was");
  } else {
    const int a_zero = signed_a ? int(std::int8_t(a_zero_byte)) : int(a_zero_byte);
    check_int8_result(call, signed_a, a_zero, b_zero, accumulate, before, arena);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zum_fuzz::Input input(data, size);
  const std::size_t element = input.pick(4);
  if (element == 0) {
    fuzz<float>(input);
  } else if (element == 1) {
    fuzz<double>(input);
  } else if (element == 2) {
    fuzz_bf16(input);
  } else {
    fuzz_int8(input);
  }
  return 0;
}
