#include "base/internal/assertions.hpp"

#include <string>

namespace zum_runtime {

void assert_eq(std::size_t left, std::size_t right, std::source_location location) {
  if (left == right) return;
  // The colons of "left:" and "right:" line up so the two values read as a column.
  panic("assertion `left == right` failed\n  left: " + std::to_string(left) +
            "\n right: " + std::to_string(right),
        location);
}

void assert_that(bool condition, std::string_view condition_text, std::source_location location) {
  if (condition) return;
  panic("assertion failed: " + std::string(condition_text), location);
}

}  // namespace zum_runtime
