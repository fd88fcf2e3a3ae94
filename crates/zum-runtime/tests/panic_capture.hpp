#pragma once

#include <optional>
#include <string>

#include "base/panic.hpp"

namespace zum_runtime::testing {

// What a panic said and where: the message, the file and the line it was raised on.
struct PanicReport {
  std::string message;
  std::string file;
  unsigned line = 0;
};

// Runs `operation` and returns the panic it raised, or nothing when it returned normally.
template <typename Operation>
std::optional<PanicReport> panic_of(Operation operation) {
  try {
    operation();
  } catch (const Panic& panic) {
    return PanicReport{panic.what(), panic.location().file_name(), panic.location().line()};
  }
  return std::nullopt;
}

}  // namespace zum_runtime::testing
