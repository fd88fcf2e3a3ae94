#pragma once

#include <cstddef>
#include <exception>
#include <source_location>
#include <string>
#include <string_view>

namespace zum_runtime {

// The one failure mechanism of the runtime: an exception that ends the running operation at
// once. `what()` is exactly the message; the position where it was raised travels beside it,
// so a report can show both without parsing one out of the other.
class Panic : public std::exception {
 public:
  Panic(std::string message, std::source_location location);

  const char* what() const noexcept override { return message_.c_str(); }
  const std::source_location& location() const noexcept { return location_; }

  // "file:line:column" of the raising expression.
  std::string position() const;

  // How a panic is shown: "panicked at file:line:column:", then the message as raised.
  std::string report() const;

 private:
  std::string message_;
  std::source_location location_;
};

// Raises a Panic carrying `message` and the caller's position. Kept out of line: it is the
// cold path of every checked operation.
[[noreturn, gnu::cold]] void panic(std::string_view message,
                                   std::source_location location = std::source_location::current());

// Panics with the three-line equality message unless `left == right`.
void assert_eq(std::size_t left, std::size_t right,
               std::source_location location = std::source_location::current());

// Panics with "assertion failed: " and `condition_text` unless `condition` holds. The text
// names the condition as the caller states it, whatever code computed it.
void assert_that(bool condition, std::string_view condition_text,
                 std::source_location location = std::source_location::current());

}  // namespace zum_runtime
