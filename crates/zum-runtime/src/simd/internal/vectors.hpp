#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <utility>

// The vector vocabulary of the kernels: fixed-size vectors of words, loads and stores,
// and the shuffles the kernels are written in (permutes, zips, in-lane shuffles, transposes).
// Internal to the library.
//
// Everything here is forced inline and carries no target of its own: it reads like the scalar
// code it replaces, and compiles to each instruction set's shuffles inside the functions that
// name that instruction set.
#define ZUM_KERNEL [[gnu::always_inline]] inline

namespace zum_runtime::simd {

using std::size_t;

template <typename Word, size_t lanes>
struct VectorOf {
  typedef Word type __attribute__((vector_size(lanes * sizeof(Word))));
};

// `lanes` words held as one value; the compiler maps it onto the path's registers.
template <typename Word, size_t lanes>
using Vector = typename VectorOf<Word, lanes>::type;

template <typename V>
ZUM_KERNEL V load(const std::byte* from) {
  V value;
  std::memcpy(&value, from, sizeof value);
  return value;
}

template <typename V>
ZUM_KERNEL void store(std::byte* to, V value) {
  std::memcpy(to, &value, sizeof value);
}

// result[i] = value[table[i]]
template <const auto& table, typename V, size_t... i>
ZUM_KERNEL V permute(V value, std::index_sequence<i...>) {
  return __builtin_shufflevector(value, value, table[i]...);
}

// Transposes work on square blocks; a vector may hold several blocks side by side, one per
// segment of `segment` lanes (8 unless given). Within each segment: the lanes of a's and b's
// low halves (half 0) or high halves (half 1), alternating: a0 b0 a1 b1 ...
template <size_t lanes, size_t half, size_t segment = 8>
constexpr std::array<int, lanes> zip_lanes = [] {
  std::array<int, lanes> indices{};
  for (size_t lane = 0; lane < lanes; ++lane) {
    const size_t segment_start = lane / segment * segment;
    const size_t in_segment = lane % segment;
    const size_t from_b = in_segment % 2 == 1 ? lanes : 0;
    indices[lane] = static_cast<int>(from_b + segment_start + half * segment / 2 + in_segment / 2);
  }
  return indices;
}();

template <size_t half, size_t segment = 8, typename V, size_t... i>
ZUM_KERNEL V zip(V a, V b, std::index_sequence<i...>) {
  return __builtin_shufflevector(a, b, zip_lanes<sizeof...(i), half, segment>[i]...);
}

// Every k-lane segment of k rows becomes its k columns (k a power of two; a vector may hold
// several such blocks side by side): log2(k) rounds of zipping row i with row i + k / 2.
//   scalar: rows[i][b * k + j] becomes rows[j][b * k + i]
template <size_t k, typename V>
ZUM_KERNEL void transpose_square_blocks(std::array<V, k>& rows) {
  // A 1 × 1 block is its own transpose (an unoptimized g++ warns of the rounds it never runs).
  if constexpr (k > 1) {
    constexpr auto lane_indices = std::make_index_sequence<sizeof(V) / sizeof(rows[0][0])>{};
    for (size_t round = 1; round < k; round *= 2) {
      std::array<V, k> zipped;
      for (size_t i = 0; i < k / 2; ++i) {
        zipped[2 * i] = zip<0, k>(rows[i], rows[i + k / 2], lane_indices);
        zipped[2 * i + 1] = zip<1, k>(rows[i], rows[i + k / 2], lane_indices);
      }
      rows = zipped;
    }
  }
}

// Zips whole units of two words: units of a and b alternate, from their low halves (half 0) or
// high halves (half 1). Over a vector of 2 × k words holding k units.
template <size_t words, size_t half>
constexpr std::array<int, words> unit_zip_words = [] {
  std::array<int, words> indices{};
  constexpr size_t units = words / 2;
  for (size_t word = 0; word < words; ++word) {
    const size_t unit = word / 2;
    const size_t source_unit = (unit % 2 == 1 ? units : 0) + half * units / 2 + unit / 2;
    indices[word] = static_cast<int>(2 * source_unit + word % 2);
  }
  return indices;
}();

template <size_t half, typename V, size_t... i>
ZUM_KERNEL V zip_units(V a, V b, std::index_sequence<i...>) {
  return __builtin_shufflevector(a, b, unit_zip_words<sizeof...(i), half>[i]...);
}

// The inverse: the units at even (parity 0) or odd (parity 1) places of a followed by b.
template <size_t words, size_t parity>
constexpr std::array<int, words> unit_unzip_words = [] {
  std::array<int, words> indices{};
  for (size_t word = 0; word < words; ++word) {
    indices[word] = static_cast<int>(2 * (2 * (word / 2) + parity) + word % 2);
  }
  return indices;
}();

template <size_t parity, typename V, size_t... i>
ZUM_KERNEL V unzip_units(V a, V b, std::index_sequence<i...>) {
  return __builtin_shufflevector(a, b, unit_unzip_words<sizeof...(i), parity>[i]...);
}

// In-lane shuffles of 4-byte words, the order x86 shuffles cheaply: within each 128-bit lane
// (4 words), or (lanes_*) of whole 128-bit lanes.
enum class LaneShuffle { unpack_low, unpack_high, pairs_low, pairs_high, lanes_low, lanes_high };

template <size_t lanes, LaneShuffle shuffle>
constexpr std::array<int, lanes> lane_shuffle_indices = [] {
  std::array<int, lanes> indices{};
  for (size_t lane = 0; lane < lanes; ++lane) {
    const size_t word = lane % 4;
    const size_t lane_start = lane / 4 * 4;
    size_t index = 0;
    switch (shuffle) {
      case LaneShuffle::unpack_low:   // a0 b0 a1 b1 in every 128-bit lane
      case LaneShuffle::unpack_high:  // a2 b2 a3 b3
        index = (word % 2) * lanes + lane_start + word / 2 +
                (shuffle == LaneShuffle::unpack_high ? 2 : 0);
        break;
      case LaneShuffle::pairs_low:   // a0 a1 b0 b1
      case LaneShuffle::pairs_high:  // a2 a3 b2 b3
        index = (word / 2) * lanes + lane_start + word % 2 +
                (shuffle == LaneShuffle::pairs_high ? 2 : 0);
        break;
      case LaneShuffle::lanes_low:   // per 8-word segment: a's low 128 bits, then b's
      case LaneShuffle::lanes_high:  // a's high 128 bits, then b's
        index = (lane % 8 / 4) * lanes + lane / 8 * 8 + word +
                (shuffle == LaneShuffle::lanes_high ? 4 : 0);
        break;
    }
    indices[lane] = static_cast<int>(index);
  }
  return indices;
}();

template <LaneShuffle shuffle, typename V, size_t... i>
ZUM_KERNEL V shuffle_lanes(V a, V b, std::index_sequence<i...>) {
  return __builtin_shufflevector(a, b, lane_shuffle_indices<sizeof...(i), shuffle>[i]...);
}

// An 8 × 8 transpose of 4-byte words: two rounds stay within 128-bit lanes, the last moves
// whole lanes. Unpacking 4-byte words this way measured faster than by zip rounds.
template <typename V, size_t lanes>
ZUM_KERNEL void lane_shuffle_transpose_8x8(std::array<V, 8>& rows) {
  using enum LaneShuffle;
  constexpr auto lane_indices = std::make_index_sequence<lanes>{};
  std::array<V, 8> pairs;  // rows 2k and 2k + 1 interleaved
  for (size_t k = 0; k < 4; ++k) {
    pairs[2 * k] = shuffle_lanes<unpack_low>(rows[2 * k], rows[2 * k + 1], lane_indices);
    pairs[2 * k + 1] = shuffle_lanes<unpack_high>(rows[2 * k], rows[2 * k + 1], lane_indices);
  }
  std::array<V, 8> quarters;  // 4 rows of one column in each 128-bit lane
  for (size_t half = 0; half < 2; ++half) {
    const size_t first = 4 * half;
    quarters[first] = shuffle_lanes<pairs_low>(pairs[first], pairs[first + 2], lane_indices);
    quarters[first + 1] = shuffle_lanes<pairs_high>(pairs[first], pairs[first + 2], lane_indices);
    quarters[first + 2] =
        shuffle_lanes<pairs_low>(pairs[first + 1], pairs[first + 3], lane_indices);
    quarters[first + 3] =
        shuffle_lanes<pairs_high>(pairs[first + 1], pairs[first + 3], lane_indices);
  }
  for (size_t column = 0; column < 4; ++column) {
    rows[column] = shuffle_lanes<lanes_low>(quarters[column], quarters[column + 4], lane_indices);
    rows[column + 4] =
        shuffle_lanes<lanes_high>(quarters[column], quarters[column + 4], lane_indices);
  }
}

// The 8 lanes of one segment.
template <size_t segment, typename V, size_t... i>
ZUM_KERNEL auto segment_lanes(V value, std::index_sequence<i...>) {
  return __builtin_shufflevector(value, value, (segment * 8 + i)...);
}

// Two 8-lane vectors side by side.
template <typename V, size_t... i>
ZUM_KERNEL auto side_by_side(V low, V high, std::index_sequence<i...>) {
  return __builtin_shufflevector(low, high, i...);
}

}  // namespace zum_runtime::simd
