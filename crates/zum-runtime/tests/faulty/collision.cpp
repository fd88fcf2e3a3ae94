// Sends position 1 to the pair of position 0: one collision in every configuration.
#include "faulty_mapping.hpp"

namespace zum_runtime::blocked_data {

CoordinatePair block_coordinates(BlockLayout layout, std::uint16_t, std::uint16_t _columns,
                                 std::uint16_t linear) {
  faulty::note_visit(layout);
  return faulty::row_major(_columns, linear == 1 ? 0 : linear);
}

}  // namespace zum_runtime::blocked_data
