#pragma once

// Shared by the deliberately faulty mappings that the bijection test executable is linked
// against in place of the real one, to prove how it fails.
#include <cstdint>
#include <iostream>

#include "blocked_data.hpp"

namespace faulty {

using zum_runtime::blocked_data::BlockLayout;
using zum_runtime::blocked_data::CoordinatePair;

// Writes "visited <layout>" to standard error on the first call of each configuration, so a
// run shows which configurations it reached.
inline void note_visit(BlockLayout layout) {
  static bool visited_any = false;
  static BlockLayout last{};
  if (visited_any && layout == last) return;
  visited_any = true;
  last = layout;
  std::cerr << "visited " << zum_runtime::blocked_data::layout_name(layout) << '\n';
}

// A plain row-major mapping: one-to-one onto the matrix for any shape.
inline CoordinatePair row_major(std::uint16_t columns, std::uint16_t linear) {
  return {static_cast<std::uint16_t>(linear / columns),
          static_cast<std::uint16_t>(linear % columns)};
}

}  // namespace faulty
