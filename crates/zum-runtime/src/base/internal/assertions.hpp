#pragma once

#include <cstddef>
#include <source_location>
#include <string_view>

#include "base/panic.hpp"

// The assertions of the runtime's own tests, raising a Panic like every other failure. Not part
// of the installed library.
namespace zum_runtime {

// Panics with the three-line equality message unless `left == right`.
void assert_eq(std::size_t left, std::size_t right,
               std::source_location location = std::source_location::current());

// Panics with "assertion failed: " and `condition_text` unless `condition` holds. The text
// names the condition as the caller states it, whatever code computed it.
void assert_that(bool condition, std::string_view condition_text,
                 std::source_location location = std::source_location::current());

}  // namespace zum_runtime
