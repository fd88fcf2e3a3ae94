#include <zum_runtime/lib.hpp>

#include <iostream>

int plugin_packed_sum();

int main() {
  using namespace zum_runtime::blocked_data;
  const auto [row, column] = block_coordinates(BlockLayout::KivB8x16, 32, 64, 24);
  std::cout << "KivB8x16 position 24 holds (" << row << ", " << column << ")\n";
  try {
    block_coordinates(BlockLayout::KivB16x16, 8, 16, 0);
  } catch (const zum_runtime::Panic& panic) {
    std::cout << "caught: " << panic.what() << '\n';
  }
  std::cout << "plugin packed sum " << plugin_packed_sum() << '\n';
}
