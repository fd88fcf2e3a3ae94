// pack and unpack over any layout byte, shape, stride, element width, and spans placed
// anywhere in one allocation, overlapping or not. Either the call panics and every byte is as
// it was, or it returns and the memory holds exactly what the mapping says, and the call
// refuses exactly when its documented conditions hold.
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "blocked_data.hpp"
#include "fuzz_input.hpp"
#include "pack/packing.hpp"

namespace {

using namespace zum_runtime::blocked_data;
using zum_fuzz::require;
using u16 = std::uint16_t;
__extension__ typedef unsigned __int128 u128;

constexpr std::size_t arena_bytes = std::size_t{1} << 18;

struct Call {
  bool unpacking;
  std::uint8_t layout;
  std::size_t width;
  u16 rows, columns;
  std::size_t row_stride;
  std::size_t matrix_offset, matrix_length;  // in elements
  std::size_t buffer_offset, buffer_length;
};

std::size_t placed(zum_fuzz::Input& input, std::size_t elements, std::size_t offset) {
  return input.take<std::uint32_t>() % (elements - offset + 1);
}

Call read_call(zum_fuzz::Input& input) {
  Call call{};
  call.unpacking = input.pick(2) == 1;
  call.layout = input.take<std::uint8_t>();
  call.width = std::size_t{1} << input.pick(4);
  call.rows = input.take<u16>();
  call.columns = input.take<u16>();
  const auto stride_kind = input.take<std::uint8_t>();
  call.row_stride =
      stride_kind % 2 == 1
          ? input.take<std::uint64_t>()
          : static_cast<std::size_t>(std::max(0, call.columns + input.take<std::int8_t>()));
  const std::size_t elements = arena_bytes / call.width;
  call.matrix_offset = input.take<std::uint32_t>() % elements;
  call.matrix_length = placed(input, elements, call.matrix_offset);
  call.buffer_offset = input.take<std::uint32_t>() % elements;
  call.buffer_length = placed(input, elements, call.buffer_offset);
  return call;
}

std::size_t round_up(std::size_t value, std::size_t multiple) {
  return (value + multiple - 1) / multiple * multiple;
}

struct Padded {
  std::size_t rows, columns;
  std::size_t elements() const { return rows * columns; }
};

Padded padded(const Call& call) {
  const PanelShape panel = panel_shape(static_cast<BlockLayout>(call.layout));
  return {panel.rows == 0 ? call.rows : round_up(call.rows, panel.rows),
          round_up(call.columns, panel.columns)};
}

// The documented refusals, computed again here.
bool refused(const Call& call) {
  if (call.layout > 7) return true;
  const PanelShape panel = panel_shape(static_cast<BlockLayout>(call.layout));
  const Padded shape = padded(call);
  if (shape.elements() > 65536) return true;
  if (panel.rows == 0 && shape.rows * panel.columns > 65535) return true;
  if (call.row_stride < call.columns) return true;
  const u128 extent = call.rows == 0 || call.columns == 0
                          ? 0
                          : u128(call.rows - 1) * call.row_stride + call.columns;
  if (extent > call.matrix_length || shape.elements() > call.buffer_length) return true;
  const u128 matrix_start = call.matrix_offset * call.width,
             buffer_start = call.buffer_offset * call.width;
  const u128 matrix_end = matrix_start + extent * call.width;
  const u128 buffer_end = buffer_start + shape.elements() * call.width;
  return extent != 0 && shape.elements() != 0 && matrix_start < buffer_end &&
         buffer_start < matrix_end;
}

// The arena after the call, position by position through the mapping.
std::vector<std::uint8_t> expected_arena(const Call& call,
                                         const std::vector<std::uint8_t>& before) {
  std::vector<std::uint8_t> after = before;
  const Padded shape = padded(call);
  for (std::size_t position = 0; position < shape.elements(); ++position) {
    const auto [row, column] =
        block_coordinates(static_cast<BlockLayout>(call.layout), static_cast<u16>(shape.rows),
                          static_cast<u16>(shape.columns), static_cast<u16>(position));
    const bool inside = row < call.rows && column < call.columns;
    const std::size_t element = call.matrix_offset + std::size_t{row} * call.row_stride + column;
    const std::size_t slot = call.buffer_offset + position;
    if (call.unpacking) {
      if (inside) std::copy_n(&before[slot * call.width], call.width, &after[element * call.width]);
    } else if (inside) {
      std::copy_n(&before[element * call.width], call.width, &after[slot * call.width]);
    } else {
      std::fill_n(&after[slot * call.width], call.width, std::uint8_t{0});
    }
  }
  return after;
}

template <typename Word>
void make_call(const Call& call, std::vector<std::uint8_t>& arena) {
  const std::span<Word> words(reinterpret_cast<Word*>(arena.data()), arena.size() / sizeof(Word));
  const auto layout = static_cast<BlockLayout>(call.layout);
  const auto matrix = words.subspan(call.matrix_offset, call.matrix_length);
  const auto buffer = words.subspan(call.buffer_offset, call.buffer_length);
  if (call.unpacking) {
    unpack<Word>(layout, call.rows, call.columns, buffer, matrix, call.row_stride);
  } else {
    pack<Word>(layout, call.rows, call.columns, matrix, call.row_stride, buffer);
  }
}

void make_call(const Call& call, std::vector<std::uint8_t>& arena) {
  switch (call.width) {
    case 1:
      return make_call<std::uint8_t>(call, arena);
    case 2:
      return make_call<std::uint16_t>(call, arena);
    case 4:
      return make_call<std::uint32_t>(call, arena);
    default:
      return make_call<std::uint64_t>(call, arena);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zum_fuzz::Input input(data, size);
  const Call call = read_call(input);
  // 8-byte aligned, filled with a pattern so that moved bytes are told apart.
  std::vector<std::uint8_t> arena(arena_bytes);
  for (std::size_t i = 0; i < arena.size(); ++i) arena[i] = static_cast<std::uint8_t>(i * 131 + 7);
  const std::vector<std::uint8_t> before = arena;
  bool panicked = false;
  try {
    make_call(call, arena);
  } catch (const zum_runtime::Panic&) {
    panicked = true;
  }
  require(panicked == refused(call), "refuses exactly when the documented conditions hold");
  if (panicked) {
    require(arena == before, "a refusal leaves every byte as it was");
  } else {
    require(arena == expected_arena(call, before), "writes exactly what the mapping says");
  }
  return 0;
}
