#pragma once

#include <zum_runtime/config.hpp>

#include <bit>
#include <cstdint>
#include <span>

// bfloat16: the upper 16 bits of an IEEE binary32, the same sign and 8-bit exponent with 7
// bits of mantissa. std::bit_cast<std::uint16_t>(x) is those bits.
//
// to_bfloat16 rounds to nearest, ties to even. NaN stays NaN, made quiet, with its sign and
// the upper bits of its payload; infinities and zeros keep their sign; a float too large for
// bfloat16 rounds to infinity. Float subnormals become a zero of the same sign, as AVX-512's
// bfloat16 conversion does, on every path. to_float is exact: bfloat16 subnormals included.
namespace zum_runtime {

class bfloat16 {
 public:
  bfloat16() = default;
  static constexpr bfloat16 from_bits(std::uint16_t bits) noexcept {
    bfloat16 value;
    value.bits_ = bits;
    return value;
  }
  constexpr std::uint16_t bits() const noexcept { return bits_; }

 private:
  std::uint16_t bits_;
};

static_assert(sizeof(bfloat16) == 2);

// Every case computed and the right one selected, so that loops of it vectorize.
constexpr bfloat16 to_bfloat16(float value) noexcept {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  const std::uint32_t upper = bits >> 16;
  const std::uint32_t rounded = (bits + 0x7fffu + (upper & 1u)) >> 16;
  const std::uint32_t quiet_nan = upper | 0x40u;
  const std::uint32_t signed_zero = upper & 0x8000u;
  std::uint32_t result = (bits & 0x7f80'0000u) == 0 ? signed_zero : rounded;
  result = (bits & 0x7fff'ffffu) > 0x7f80'0000u ? quiet_nan : result;
  return bfloat16::from_bits(static_cast<std::uint16_t>(result));
}

constexpr float to_float(bfloat16 value) noexcept {
  return std::bit_cast<float>(std::uint32_t{value.bits()} << 16);
}

// Element by element, vectorized, with the same bits as the forms above. Spans of different
// sizes panic before anything is written.
ZUM_RUNTIME_API void to_bfloat16(std::span<const float> from, std::span<bfloat16> to);
ZUM_RUNTIME_API void to_float(std::span<const bfloat16> from, std::span<float> to);

}  // namespace zum_runtime
