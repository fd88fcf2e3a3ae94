#include "coordinate_set.hpp"

namespace zum_runtime::blocked_data {

CoordinateSet::CoordinateSet(std::uint16_t window_rows, std::uint16_t window_columns)
    : window_rows_(window_rows),
      window_columns_(window_columns),
      window_bits_((std::size_t{window_rows} * window_columns + word_bits - 1) / word_bits) {}

bool CoordinateSet::contains(CoordinatePair pair) const {
  if (pair.row < window_rows_ && pair.column < window_columns_) {
    const std::size_t index = window_index(pair);
    return (window_bits_[index / word_bits] >> (index % word_bits) & 1) != 0;
  }
  return spill_.contains(pair);
}

}  // namespace zum_runtime::blocked_data
