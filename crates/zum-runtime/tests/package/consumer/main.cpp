#include <zum_runtime/lib.hpp>

#include <iostream>
#include <vector>

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
  // A 2 x 3 by 3 x 2 product through the installed GEMM.
  using zum_runtime::gemm::Transpose;
  const std::vector<float> a{1, 2, 3, 4, 5, 6}, b{1, 0, 0, 1, 1, 1};
  std::vector<float> c(4);
  zum_runtime::gemm::multiply<float>(Transpose::no, Transpose::no, 2, 2, 3, 1.0f, a, 3, b, 2, 0.0f,
                                     c, 2);
  std::cout << "gemm " << c[0] << ' ' << c[1] << ' ' << c[2] << ' ' << c[3] << '\n';
}
