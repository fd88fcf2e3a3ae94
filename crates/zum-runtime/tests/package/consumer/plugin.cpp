#include <zum_runtime/packing.hpp>

#include <numeric>
#include <vector>

// Packs a 4 x 5 matrix of 0 to 19 with zero padding: the buffer sums to 190.
[[gnu::visibility("default")]] int plugin_packed_sum() {
  using namespace zum_runtime::blocked_data;
  std::vector<int> matrix(4 * 5);
  std::iota(matrix.begin(), matrix.end(), 0);
  std::vector<int> buffer(blocked_buffer_elements(BlockLayout::KivC16, 4, 5));
  pack<int>(BlockLayout::KivC16, 4, 5, matrix, 5, buffer);
  return std::accumulate(buffer.begin(), buffer.end(), 0);
}
