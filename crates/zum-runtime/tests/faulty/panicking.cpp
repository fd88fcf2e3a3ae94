// Maps the family A configurations correctly, then divides by zero in the first family B one.
#include "base/checked_arithmetic.hpp"
#include "faulty_mapping.hpp"

namespace zum_runtime::blocked_data {

CoordinatePair block_coordinates(BlockLayout layout, std::uint16_t rows, std::uint16_t _columns,
                                 std::uint16_t linear) {
  faulty::note_visit(layout);
  if (layout == BlockLayout::KivB8x16) {
    const std::uint16_t no_groups = 0;
    return {checked_div(rows, no_groups), 0};
  }
  return faulty::row_major(_columns, linear);
}

}  // namespace zum_runtime::blocked_data
