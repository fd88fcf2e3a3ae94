// block_coordinates and block_position over any layout byte and any 16-bit arguments: where
// both return, each inverts the other; a layout outside the eight always panics.
#include <cstdint>

#include "blocked_data.hpp"
#include "fuzz_input.hpp"

namespace {

using namespace zum_runtime::blocked_data;
using zum_fuzz::require;
using u16 = std::uint16_t;

template <typename Call>
bool returns(Call call) {
  try {
    call();
    return true;
  } catch (const zum_runtime::Panic&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zum_fuzz::Input input(data, size);
  const auto layout = static_cast<BlockLayout>(input.take<std::uint8_t>());
  const u16 rows = input.take<u16>(), columns = input.take<u16>(), linear = input.take<u16>();
  const u16 row = input.take<u16>(), column = input.take<u16>();
  const bool valid = static_cast<std::uint8_t>(layout) < 8;

  CoordinatePair at{};
  const bool mapped = returns([&] { at = block_coordinates(layout, rows, columns, linear); });
  require(valid || !mapped, "a layout outside the eight panics");
  u16 back = 0;
  if (mapped && returns([&] { back = block_position(layout, rows, columns, at.row, at.column); })) {
    require(back == linear, "block_position inverts block_coordinates");
  }
  u16 position = 0;
  if (returns([&] { position = block_position(layout, rows, columns, row, column); })) {
    require(valid, "a layout outside the eight panics");
    CoordinatePair again{};
    require(returns([&] { again = block_coordinates(layout, rows, columns, position); }),
            "a position block_position returns maps back");
    require(again == CoordinatePair{row, column}, "block_coordinates inverts block_position");
  }
  return 0;
}
