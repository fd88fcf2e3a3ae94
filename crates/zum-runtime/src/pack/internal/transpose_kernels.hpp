#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

#include "internal/pair_interleave.hpp"
#include "pack/internal/row_kernels.hpp"
#include "simd/internal/vectors.hpp"

// Panel kernels of family B: a whole panel of `height` rows × 16 columns, stored as 16 load
// channels of `height` elements, channel s holding column column_of_stored[s] top row first.
// Each kernel is a transpose; the scalar definition comes first.
namespace zum_runtime::blocked_data::kernels {

// The kernels are written in the vector vocabulary.
using namespace simd;

// Where element (row, column) of a panel lies in its channels, in words.
template <size_t height>
constexpr size_t channel_word(size_t column, size_t row) {
  return pair_interleave::stored_of_column[column] * height + row;
}

// Family B, scalar: buffer[stored_of_column[c] * height + r] = matrix[r * row_stride + c].
template <typename Word, size_t height>
struct ScalarTransposedPanel {
  static constexpr size_t rows = height;
  static constexpr size_t columns = 16;

  ZUM_KERNEL static void pack(const std::byte* matrix, size_t row_stride, std::byte* buffer) {
    for (size_t r = 0; r < height; ++r) {
      for (size_t c = 0; c < columns; ++c) {
        move_word<Word>(matrix, r * row_stride + c, buffer, channel_word<height>(c, r));
      }
    }
  }
  ZUM_KERNEL static void unpack(const std::byte* buffer, std::byte* matrix, size_t row_stride) {
    for (size_t r = 0; r < height; ++r) {
      for (size_t c = 0; c < columns; ++c) {
        move_word<Word>(buffer, channel_word<height>(c, r), matrix, r * row_stride + c);
      }
    }
  }
};

// Family B by zip rounds: k × k blocks in registers, k = 8 or, where 8 words do not fit a
// register, the k words that do. Where a whole panel row (16 words) fits one register, its two
// 8-column blocks are transposed side by side in it.
template <typename Word, size_t height, size_t vector_bytes>
struct ZipTranspose {
  static constexpr size_t rows = height;
  static constexpr size_t columns = 16;
  static constexpr size_t lanes = std::min<size_t>(16, vector_bytes / sizeof(Word));
  static constexpr size_t k = std::min<size_t>(8, lanes);
  using BlockRow = Vector<Word, lanes>;
  using Channel = Vector<Word, k>;
  using Block = std::array<BlockRow, k>;

  ZUM_KERNEL static void pack(const std::byte* matrix, size_t row_stride, std::byte* buffer) {
    for (size_t block_row = 0; block_row < height; block_row += k) {
      for (size_t block_column = 0; block_column < columns; block_column += lanes) {
        Block block;
        for (size_t r = 0; r < k; ++r) {
          block[r] = load<BlockRow>(matrix + at(block_row + r, row_stride, block_column));
        }
        transpose_square_blocks<k>(block);
        for (size_t c = 0; c < k; ++c)
          store_channels(buffer, block_row, block_column + c, block[c]);
      }
    }
  }

  ZUM_KERNEL static void unpack(const std::byte* buffer, std::byte* matrix, size_t row_stride) {
    for (size_t block_row = 0; block_row < height; block_row += k) {
      for (size_t block_column = 0; block_column < columns; block_column += lanes) {
        Block block;
        for (size_t c = 0; c < k; ++c)
          block[c] = load_channels(buffer, block_row, block_column + c);
        transpose_square_blocks<k>(block);
        for (size_t r = 0; r < k; ++r) {
          store(matrix + at(block_row + r, row_stride, block_column), block[r]);
        }
      }
    }
  }

  static constexpr size_t at(size_t row, size_t row_stride, size_t column) {
    return (row * row_stride + column) * sizeof(Word);
  }

  // Each block's column `column` goes to its channel: blocks side by side sit 8 columns apart.
  ZUM_KERNEL static void store_channels(std::byte* buffer, size_t row, size_t column,
                                        BlockRow value) {
    constexpr auto channel = std::make_index_sequence<k>{};
    if constexpr (lanes == k) {
      store(buffer + channel_word<height>(column, row) * sizeof(Word), value);
    } else {
      store(buffer + channel_word<height>(column, row) * sizeof(Word),
            segment_lanes<0>(value, channel));
      store(buffer + channel_word<height>(column + 8, row) * sizeof(Word),
            segment_lanes<1>(value, channel));
    }
  }

  ZUM_KERNEL static BlockRow load_channels(const std::byte* buffer, size_t row, size_t column) {
    const std::byte* first = buffer + channel_word<height>(column, row) * sizeof(Word);
    if constexpr (lanes == k) {
      return load<BlockRow>(first);
    } else {
      const std::byte* second = buffer + channel_word<height>(column + 8, row) * sizeof(Word);
      return side_by_side(load<Channel>(first), load<Channel>(second),
                          std::make_index_sequence<16>{});
    }
  }
};

// Family B for 4-byte words in registers of 8 or more, in the shuffles x86 does cheaply within
// 128-bit lanes.
// Packing moves 8 rows × 4 columns at a time, a quad: a vector holds four words of row i beside
// the same four of row i + 4, read straight from memory, so each 128-bit lane is a 4 × 4 block;
// two rounds of in-lane shuffles turn its rows into columns of 8.
// Unpacking transposes 8 × 8 blocks: two in-lane rounds, then one that moves whole lanes. (Each
// direction's way measured faster than the other's; see lane_shuffle_transpose_8x8.)
template <typename Word, size_t height>
struct LaneShuffleTranspose {
  static_assert(sizeof(Word) == 4);
  static constexpr size_t rows = height;
  static constexpr size_t columns = 16;
  using Row = Vector<Word, 8>;
  using Half = Vector<Word, 4>;
  static constexpr auto lane_indices = std::make_index_sequence<8>{};

  ZUM_KERNEL static void pack(const std::byte* matrix, size_t row_stride, std::byte* buffer) {
    for (size_t block_row = 0; block_row < height; block_row += 8) {
      for (size_t column = 0; column < columns; column += 4) {
        std::array<Row, 4> quad;
        for (size_t r = 0; r < 4; ++r) {
          const std::byte* top = matrix + ((block_row + r) * row_stride + column) * sizeof(Word);
          const std::byte* bottom = top + 4 * row_stride * sizeof(Word);
          quad[r] = side_by_side(load<Half>(top), load<Half>(bottom), lane_indices);
        }
        transpose_4x4_lanes(quad);
        for (size_t c = 0; c < 4; ++c) {
          store(buffer + channel_word<height>(column + c, block_row) * sizeof(Word), quad[c]);
        }
      }
    }
  }

  ZUM_KERNEL static void unpack(const std::byte* buffer, std::byte* matrix, size_t row_stride) {
    for (size_t block_row = 0; block_row < height; block_row += 8) {
      for (size_t block_column = 0; block_column < columns; block_column += 8) {
        std::array<Row, 8> block;
        for (size_t c = 0; c < 8; ++c) {
          block[c] =
              load<Row>(buffer + channel_word<height>(block_column + c, block_row) * sizeof(Word));
        }
        lane_shuffle_transpose_8x8<Row, 8>(block);
        for (size_t r = 0; r < 8; ++r) {
          store(matrix + ((block_row + r) * row_stride + block_column) * sizeof(Word), block[r]);
        }
      }
    }
  }

  // A 4 × 4 transpose within each 128-bit lane: unpack rounds, then pair rounds.
  ZUM_KERNEL static void transpose_4x4_lanes(std::array<Row, 4>& quad) {
    using enum LaneShuffle;
    const auto low_01 = shuffle_lanes<unpack_low>(quad[0], quad[1], lane_indices);
    const auto high_01 = shuffle_lanes<unpack_high>(quad[0], quad[1], lane_indices);
    const auto low_23 = shuffle_lanes<unpack_low>(quad[2], quad[3], lane_indices);
    const auto high_23 = shuffle_lanes<unpack_high>(quad[2], quad[3], lane_indices);
    quad = {shuffle_lanes<pairs_low>(low_01, low_23, lane_indices),
            shuffle_lanes<pairs_high>(low_01, low_23, lane_indices),
            shuffle_lanes<pairs_low>(high_01, high_23, lane_indices),
            shuffle_lanes<pairs_high>(high_01, high_23, lane_indices)};
  }
};

}  // namespace zum_runtime::blocked_data::kernels
