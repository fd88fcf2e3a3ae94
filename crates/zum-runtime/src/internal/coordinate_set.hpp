#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "blocked_data.hpp"

namespace zum_runtime::blocked_data {

// An ordered set of coordinate pairs, shaped for checking one matrix: the caller names the
// window [0, window_rows) × [0, window_columns) where it expects the pairs to land.
//
// A bijection check inserts one pair per element, so a node-based set would spend most of the
// check allocating and rebalancing. Pairs inside the window are instead one byte each in a
// dense table (a single allocation of window_rows × window_columns bytes, an insert is one
// store); pairs outside it spill into an ordinary ordered set. The two together behave as one
// ordered set for any input: the same size, the same membership and the same order, row first,
// then column. Everything is inline so the hot loop keeps the set's state in registers.
class CoordinateSet {
 public:
  CoordinateSet(std::uint16_t window_rows, std::uint16_t window_columns)
      : window_rows_(window_rows),
        window_columns_(window_columns),
        window_cells_(std::size_t{window_rows} * window_columns, 0) {}

  // Adds `pair`; a pair already present leaves the set unchanged.
  void insert(CoordinatePair pair) {
    if (in_window(pair)) [[likely]] {
      window_cells_[window_index(pair)] = 1;
    } else {
      spill().insert(pair);
    }
  }

  bool contains(CoordinatePair pair) const {
    return in_window(pair) ? window_cells_[window_index(pair)] != 0
                           : spill_ && spill_->contains(pair);
  }

  // Number of distinct pairs. The window's cells are counted here rather than on every insert:
  // a check asks once, after inserting a pair per element.
  std::size_t size() const {
    // A window holds fewer than 2^32 cells, and a 32-bit sum of bytes vectorizes well.
    std::uint32_t window_count = 0;
    for (const std::uint8_t cell : window_cells_) window_count += cell;
    return window_count + (spill_ ? spill_->size() : 0);
  }

  // Calls `visit` on each pair in order until it returns false; returns whether every call
  // returned true.
  template <typename Visit>
  bool visit_in_order(Visit visit) const;

  // Whether every pair lies in [0, rows) × [0, columns): the same answer as visiting the pairs
  // in order and stopping at the first outside, without visiting the window's pairs one by one
  // when the window lies inside those bounds.
  bool all_within(std::uint16_t rows, std::uint16_t columns) const {
    const auto inside = [&](CoordinatePair pair) {
      return pair.row < rows && pair.column < columns;
    };
    if (window_rows_ <= rows && window_columns_ <= columns) {
      return !spill_ || std::all_of(spill_->begin(), spill_->end(), inside);
    }
    return visit_in_order(inside);
  }

 private:
  bool in_window(CoordinatePair pair) const {
    return pair.row < window_rows_ && pair.column < window_columns_;
  }

  std::size_t window_index(CoordinatePair pair) const {
    return std::size_t{pair.row} * window_columns_ + pair.column;
  }

  std::set<CoordinatePair>& spill() {
    if (!spill_) spill_ = std::make_unique<std::set<CoordinatePair>>();
    return *spill_;
  }

  std::uint16_t window_rows_;
  std::uint16_t window_columns_;
  std::vector<std::uint8_t> window_cells_;
  // Made on the first spill. Held by pointer, so the set itself never has its address taken
  // and the compiler keeps the window's state in registers across the caller's loop.
  std::unique_ptr<std::set<CoordinatePair>> spill_;
};

template <typename Visit>
bool CoordinateSet::visit_in_order(Visit visit) const {
  // Merge the window's pairs, row-major and so already in order, with the spilled ones.
  static const std::set<CoordinatePair> no_spill;
  const std::set<CoordinatePair>& spilled_pairs = spill_ ? *spill_ : no_spill;
  auto spilled = spilled_pairs.begin();
  const auto visit_spilled_before = [&](CoordinatePair pair) {
    for (; spilled != spilled_pairs.end() && *spilled < pair; ++spilled) {
      if (!visit(*spilled)) return false;
    }
    return true;
  };
  for (std::uint16_t row = 0; row < window_rows_; ++row) {
    for (std::uint16_t column = 0; column < window_columns_; ++column) {
      const CoordinatePair pair{row, column};
      if (window_cells_[window_index(pair)] == 0) continue;
      if (!visit_spilled_before(pair) || !visit(pair)) return false;
    }
  }
  for (; spilled != spilled_pairs.end(); ++spilled) {
    if (!visit(*spilled)) return false;
  }
  return true;
}

}  // namespace zum_runtime::blocked_data
