#pragma once

#include <cstdint>

#include "blocked_data.hpp"

// The same formulas without a single overflow or zero-divisor test, for measuring what the
// checks cost. Only for inputs the checked mapping accepts: on others the result is
// meaningless, and a zero divisor is undefined behaviour.
namespace zum_runtime::blocked_data::unchecked {

CoordinatePair block_coordinates(BlockLayout layout, std::uint16_t rows, std::uint16_t _columns,
                                 std::uint16_t linear);

}  // namespace zum_runtime::blocked_data::unchecked
