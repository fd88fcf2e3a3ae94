#include <catch2/catch.hpp>

#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "internal/coordinate_set.hpp"

namespace {

using zum_runtime::blocked_data::CoordinatePair;
using zum_runtime::blocked_data::CoordinateSet;
using u16 = std::uint16_t;

std::vector<CoordinatePair> in_order(const CoordinateSet& set) {
  std::vector<CoordinatePair> pairs;
  set.visit_in_order([&](CoordinatePair pair) {
    pairs.push_back(pair);
    return true;
  });
  return pairs;
}

}  // namespace

TEST_CASE("coordinate set: behaves as an ordered set inside and outside its window") {
  struct Window {
    u16 rows;
    u16 columns;
    u16 spread;  // pairs are drawn from [0, spread) × [0, spread)
  };
  const std::vector<Window> windows{
      {8, 8, 12}, {1, 64, 70}, {64, 1, 70}, {0, 0, 20}, {13, 7, 15}, {100, 100, 100}, {3, 5, 600},
  };
  std::mt19937 random(20261209);
  for (const Window& window : windows) {
    INFO("window " << window.rows << " x " << window.columns << ", spread " << window.spread);
    std::uniform_int_distribution<int> coordinate(0, window.spread - 1);
    CoordinateSet set(window.rows, window.columns);
    std::set<CoordinatePair> reference;
    for (int draw = 0; draw < 400; ++draw) {
      const CoordinatePair pair{static_cast<u16>(coordinate(random)),
                                static_cast<u16>(coordinate(random))};
      set.insert(pair);
      reference.insert(pair);
      REQUIRE(set.size() == reference.size());
    }
    CHECK(in_order(set) == std::vector<CoordinatePair>(reference.begin(), reference.end()));
    for (u16 row = 0; row < window.spread; ++row) {
      for (u16 column = 0; column < window.spread; ++column) {
        REQUIRE(set.contains({row, column}) == reference.contains({row, column}));
      }
    }
  }
}

TEST_CASE("coordinate set: pairs at the far corners of 16 bits are kept apart") {
  CoordinateSet set(2, 2);
  const std::vector<CoordinatePair> pairs{{65535, 65535}, {0, 65535}, {65535, 0}, {1, 1}, {0, 0}};
  for (const CoordinatePair pair : pairs) set.insert(pair);
  for (const CoordinatePair pair : pairs) set.insert(pair);
  CHECK(set.size() == 5);
  CHECK(in_order(set) ==
        std::vector<CoordinatePair>{{0, 0}, {0, 65535}, {1, 1}, {65535, 0}, {65535, 65535}});
}

TEST_CASE("coordinate set: an ordered visit stops at the first refusal") {
  CoordinateSet set(4, 4);
  for (const CoordinatePair pair : std::vector<CoordinatePair>{{3, 3}, {0, 9}, {0, 1}, {2, 0}}) {
    set.insert(pair);
  }
  std::vector<CoordinatePair> visited;
  const bool all_in_window = set.visit_in_order([&](CoordinatePair pair) {
    visited.push_back(pair);
    return pair.column < 4;
  });
  CHECK_FALSE(all_in_window);
  CHECK(visited == std::vector<CoordinatePair>{{0, 1}, {0, 9}});
}

TEST_CASE("coordinate set: the bounds query answers as an ordered visit would") {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> coordinate(0, 19);
  std::uniform_int_distribution<int> bound(0, 21);
  for (int trial = 0; trial < 300; ++trial) {
    const auto window_rows = static_cast<u16>(bound(random));
    const auto window_columns = static_cast<u16>(bound(random));
    CoordinateSet set(window_rows, window_columns);
    for (int draw = 0; draw < trial % 40; ++draw) {
      set.insert({static_cast<u16>(coordinate(random)), static_cast<u16>(coordinate(random))});
    }
    const auto rows = static_cast<u16>(bound(random));
    const auto columns = static_cast<u16>(bound(random));
    INFO("window " << window_rows << " x " << window_columns << ", bounds " << rows << " x "
                   << columns);
    const bool visited_all = set.visit_in_order(
        [&](CoordinatePair pair) { return pair.row < rows && pair.column < columns; });
    REQUIRE(set.all_within(rows, columns) == visited_all);
  }
}
