#pragma once

#include <zum_runtime/config.hpp>

#include <cstddef>
#include <exception>
#include <source_location>
#include <string>
#include <string_view>

namespace zum_runtime {

// The one failure mechanism of the runtime: an exception that ends the running operation at
// once. `what()` is exactly the message; the position where it was raised travels beside it,
// so a report can show both without parsing one out of the other.
class ZUM_RUNTIME_API Panic : public std::exception {
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
[[noreturn, gnu::cold]] ZUM_RUNTIME_API void panic(
    std::string_view message, std::source_location location = std::source_location::current());

}  // namespace zum_runtime
