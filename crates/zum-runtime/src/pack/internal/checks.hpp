#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "blocked_data.hpp"
#include "pack/internal/kernels.hpp"

// The checks pack and unpack make before any byte moves, and the job they hand the kernels.
// Internal to packing.
namespace zum_runtime::blocked_data {

// An operation on one layout and shape, named the way its panics name it: "pack KivA8 4 x 12".
struct Operation {
  std::string_view verb;
  BlockLayout layout;
  std::uint16_t rows;
  std::uint16_t columns;

  [[noreturn, gnu::cold]] void refuse(const std::string& reason) const {
    panic(std::string(verb) + ' ' + std::string(layout_name(layout)) + ' ' + std::to_string(rows) +
          " x " + std::to_string(columns) + ": " + reason);
  }
};

// An empty matrix pads to an empty buffer: rounding up leaves a zero extent zero.
struct PaddedShape {
  std::uint32_t rows;
  std::uint32_t columns;

  std::size_t elements() const { return std::size_t{rows} * columns; }
};

// The shape padded to whole panels; panics when the mapping cannot address every position.
PaddedShape addressable_shape(const Operation& operation);

// Checks everything pack and unpack refuse, in the order the refusals are documented, in one
// branch-light pass; panics naming the first that fails. Returns the job when nothing fails.
kernels::PackJob validated_job(const Operation& operation, std::size_t row_stride,
                               std::span<const std::byte> matrix, std::span<const std::byte> buffer,
                               std::size_t element_bytes);

}  // namespace zum_runtime::blocked_data
