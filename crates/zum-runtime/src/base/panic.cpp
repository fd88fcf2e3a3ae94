#include "base/panic.hpp"

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

}  // namespace zum_runtime
