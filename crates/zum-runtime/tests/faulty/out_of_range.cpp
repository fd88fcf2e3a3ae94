// Shifts every pair down one row: still one-to-one, but the last row lands past the matrix.
#include "faulty_mapping.hpp"

namespace zum_runtime::blocked_data {

CoordinatePair block_coordinates(BlockLayout layout, std::uint16_t, std::uint16_t _columns,
                                 std::uint16_t linear) {
  faulty::note_visit(layout);
  const CoordinatePair pair = faulty::row_major(_columns, linear);
  return {static_cast<std::uint16_t>(pair.row + 1), pair.column};
}

}  // namespace zum_runtime::blocked_data
