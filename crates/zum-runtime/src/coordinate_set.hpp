#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "blocked_data.hpp"

namespace zum_runtime::blocked_data {

// An ordered set of coordinate pairs, shaped for checking one matrix: the caller names the
// window [0, window_rows) × [0, window_columns) where it expects the pairs to land.
//
// A bijection check inserts one pair per element, so a node-based set would spend most of the
// check allocating and rebalancing. Pairs inside the window are instead one bit each in a
// dense bitmap (one allocation of window_rows × window_columns bits, constant-time insert); pairs
// outside it spill into an ordinary ordered set. The two together behave as one ordered set for any
// input: the same size, the same membership and the same iteration order, row first, then column.
class CoordinateSet {
 public:
  CoordinateSet(std::uint16_t window_rows, std::uint16_t window_columns);

  // Adds `pair`; a pair already present leaves the set unchanged.
  void insert(CoordinatePair pair) {
    if (pair.row < window_rows_ && pair.column < window_columns_) {
      insert_in_window(window_index(pair));
    } else {
      spill_.insert(pair);
    }
  }

  bool contains(CoordinatePair pair) const;

  // Number of distinct pairs.
  std::size_t size() const { return window_count_ + spill_.size(); }

  // Calls `visit` on each pair in order until it returns false; returns whether every call
  // returned true.
  template <typename Visit>
  bool visit_in_order(Visit visit) const;

 private:
  using Word = std::uint64_t;
  static constexpr std::size_t word_bits = 64;

  std::size_t window_index(CoordinatePair pair) const {
    return std::size_t{pair.row} * window_columns_ + pair.column;
  }

  void insert_in_window(std::size_t index) {
    Word& word = window_bits_[index / word_bits];
    const Word bit = Word{1} << (index % word_bits);
    window_count_ += (word & bit) == 0 ? 1 : 0;
    word |= bit;
  }

  CoordinatePair window_pair(std::size_t index) const {
    return {static_cast<std::uint16_t>(index / window_columns_),
            static_cast<std::uint16_t>(index % window_columns_)};
  }

  std::uint16_t window_rows_;
  std::uint16_t window_columns_;
  std::size_t window_count_ = 0;
  std::vector<Word> window_bits_;
  std::set<CoordinatePair> spill_;
};

template <typename Visit>
bool CoordinateSet::visit_in_order(Visit visit) const {
  // Merge the window's pairs, in index order (row-major, so already sorted), with the spill.
  auto spilled = spill_.begin();
  for (std::size_t word_index = 0; word_index < window_bits_.size(); ++word_index) {
    for (Word word = window_bits_[word_index]; word != 0; word &= word - 1) {
      const auto bit = static_cast<std::size_t>(std::countr_zero(word));
      const CoordinatePair pair = window_pair(word_index * word_bits + bit);
      for (; spilled != spill_.end() && *spilled < pair; ++spilled) {
        if (!visit(*spilled)) return false;
      }
      if (!visit(pair)) return false;
    }
  }
  for (; spilled != spill_.end(); ++spilled) {
    if (!visit(*spilled)) return false;
  }
  return true;
}

}  // namespace zum_runtime::blocked_data
