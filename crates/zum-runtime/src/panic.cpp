#include "panic.hpp"

#include <string>
#include <utility>

namespace zum_runtime {

Panic::Panic(std::string message, std::source_location location)
    : message_(std::move(message)), location_(location) {}

std::string Panic::position() const {
  return std::string(location_.file_name()) + ':' + std::to_string(location_.line()) + ':' +
         std::to_string(location_.column());
}

std::string Panic::report() const {
  return "panicked at " + position() + ":\n" + message_;
}

void panic(std::string_view message, std::source_location location) {
  throw Panic(std::string(message), location);
}

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
