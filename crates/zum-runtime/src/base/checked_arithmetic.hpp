#pragma once

#include <zum_runtime/config.hpp>

#include <concepts>
#include <source_location>
#include <string_view>
#include <type_traits>

#include <zum_runtime/panic.hpp>

// Unsigned arithmetic that never wraps: each operation either yields the exact result in the
// operands' own width or panics at the caller's position. The operands keep their width, so a
// 16-bit product is checked against 16 bits, not against the `int` it would be promoted to.
namespace zum_runtime {

inline constexpr std::string_view multiply_overflow_message = "attempt to multiply with overflow";
inline constexpr std::string_view add_overflow_message = "attempt to add with overflow";
inline constexpr std::string_view divide_by_zero_message = "attempt to divide by zero";
inline constexpr std::string_view remainder_by_zero_message =
    "attempt to calculate the remainder with a divisor of zero";

// `left * right`; panics when the exact product does not fit `T`.
template <std::unsigned_integral T>
constexpr T checked_mul(T left, std::type_identity_t<T> right,
                        std::source_location location = std::source_location::current()) {
  T product{};
  if (__builtin_mul_overflow(left, right, &product)) [[unlikely]]
    panic(multiply_overflow_message, location);
  return product;
}

// `left + right`; panics when the exact sum does not fit `T`.
template <std::unsigned_integral T>
constexpr T checked_add(T left, std::type_identity_t<T> right,
                        std::source_location location = std::source_location::current()) {
  T sum{};
  if (__builtin_add_overflow(left, right, &sum)) [[unlikely]]
    panic(add_overflow_message, location);
  return sum;
}

// `dividend / divisor`, truncating; the zero divisor is tested first.
template <std::unsigned_integral T>
constexpr T checked_div(T dividend, std::type_identity_t<T> divisor,
                        std::source_location location = std::source_location::current()) {
  if (divisor == 0) [[unlikely]]
    panic(divide_by_zero_message, location);
  return static_cast<T>(dividend / divisor);
}

// `dividend % divisor`; the zero divisor is tested first.
template <std::unsigned_integral T>
constexpr T checked_rem(T dividend, std::type_identity_t<T> divisor,
                        std::source_location location = std::source_location::current()) {
  if (divisor == 0) [[unlikely]]
    panic(remainder_by_zero_message, location);
  return static_cast<T>(dividend % divisor);
}

}  // namespace zum_runtime
