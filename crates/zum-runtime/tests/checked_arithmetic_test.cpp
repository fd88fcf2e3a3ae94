#include <catch2/catch.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/checked_arithmetic.hpp"
#include "base/internal/assertions.hpp"
#include "base/panic.hpp"
#include "panic_capture.hpp"

namespace {

using zum_runtime::testing::panic_of;
using u16 = std::uint16_t;

constexpr u16 u16_max = std::numeric_limits<u16>::max();

struct Operation {
  const char* name;
  std::function<u16(u16, u16)> apply;
};

const std::vector<Operation>& operations() {
  static const std::vector<Operation> table{
      {"mul", [](u16 left, u16 right) { return zum_runtime::checked_mul(left, right); }},
      {"add", [](u16 left, u16 right) { return zum_runtime::checked_add(left, right); }},
      {"div", [](u16 left, u16 right) { return zum_runtime::checked_div(left, right); }},
      {"rem", [](u16 left, u16 right) { return zum_runtime::checked_rem(left, right); }},
  };
  return table;
}

const Operation& operation(const std::string& name) {
  for (const Operation& candidate : operations()) {
    if (name == candidate.name) return candidate;
  }
  throw std::logic_error("no operation " + name);
}

}  // namespace

TEST_CASE("checked arithmetic: exact results up to the 16-bit boundary") {
  struct Case {
    const char* operation;
    u16 left;
    u16 right;
    u16 expected;
  };
  const std::vector<Case> table{
      {"mul", 255, 257, u16_max},
      {"mul", u16_max, 1, u16_max},
      {"mul", 0, u16_max, 0},
      {"mul", 2048, 31, 63488},
      {"add", u16_max, 0, u16_max},
      {"add", 32768, 32767, u16_max},
      {"div", u16_max, 1, u16_max},
      {"div", 7, 8, 0},
      {"div", u16_max, u16_max, 1},
      {"rem", u16_max, 16, 15},
      {"rem", 0, 1, 0},
      {"rem", 5, u16_max, 5},
  };
  for (const Case& c : table) {
    INFO(c.operation << "(" << c.left << ", " << c.right << ")");
    CHECK(operation(c.operation).apply(c.left, c.right) == c.expected);
  }
}

TEST_CASE("checked arithmetic: each failed check panics with its own message") {
  struct Case {
    const char* operation;
    u16 left;
    u16 right;
    const char* message;
  };
  const std::vector<Case> table{
      {"mul", 256, 256, "attempt to multiply with overflow"},
      {"mul", u16_max, 2, "attempt to multiply with overflow"},
      {"mul", 2048, 32, "attempt to multiply with overflow"},
      {"add", u16_max, 1, "attempt to add with overflow"},
      {"add", 32768, 32768, "attempt to add with overflow"},
      {"div", 1, 0, "attempt to divide by zero"},
      {"div", 0, 0, "attempt to divide by zero"},
      {"rem", 1, 0, "attempt to calculate the remainder with a divisor of zero"},
      {"rem", 0, 0, "attempt to calculate the remainder with a divisor of zero"},
  };
  for (const Case& c : table) {
    INFO(c.operation << "(" << c.left << ", " << c.right << ")");
    const auto panic = panic_of([&] { operation(c.operation).apply(c.left, c.right); });
    REQUIRE(panic.has_value());
    CHECK(panic->message == c.message);
  }
}

TEST_CASE("checked arithmetic: word-sized products of two 16-bit factors never trip") {
  CHECK(zum_runtime::checked_mul<std::size_t>(u16_max, u16_max) == std::size_t{4294836225u});
  const auto panic = panic_of(
      [] { zum_runtime::checked_mul<std::size_t>(std::numeric_limits<std::size_t>::max(), 2); });
  REQUIRE(panic.has_value());
  CHECK(panic->message == "attempt to multiply with overflow");
}

TEST_CASE("checked arithmetic: a panic points at the calling expression") {
  const u16 zero = 0;
  std::optional<zum_runtime::Panic> raised;
  try {
    zum_runtime::checked_div<u16>(1, zero);
  } catch (const zum_runtime::Panic& panic) {
    raised = panic;
  }
  const unsigned call_line = __LINE__ - 4;
  REQUIRE(raised.has_value());
  CHECK(std::string(raised->location().file_name()) ==
        "crates/zum-runtime/tests/checked_arithmetic_test.cpp");
  CHECK(raised->location().line() == call_line);
  CHECK(raised->position() ==
        "crates/zum-runtime/tests/checked_arithmetic_test.cpp:" + std::to_string(call_line) + ":" +
            std::to_string(raised->location().column()));
  CHECK(std::string(raised->what()) == "attempt to divide by zero");
}

TEST_CASE("assertions: equality and condition messages as they stand") {
  const auto unequal = panic_of([] { zum_runtime::assert_eq(4095, 4096); });
  REQUIRE(unequal.has_value());
  CHECK(unequal->message == "assertion `left == right` failed\n  left: 4095\n right: 4096");
  CHECK_FALSE(panic_of([] { zum_runtime::assert_eq(7, 7); }));

  const auto untrue = panic_of([] { zum_runtime::assert_that(false, "rows < 3"); });
  REQUIRE(untrue.has_value());
  CHECK(untrue->message == "assertion failed: rows < 3");
  CHECK_FALSE(panic_of([] { zum_runtime::assert_that(true, "rows < 3"); }));
}
