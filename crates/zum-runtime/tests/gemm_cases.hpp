#pragma once

#include <cstddef>
#include <string>

#include "gemm/gemm.hpp"

// What the bfloat16 and 8-bit GEMM tests share: a case's shape and transposes, how a failure
// names it, and the stored matrices with row strides wider than their columns.
namespace zum_runtime::testing {

using gemm::Transpose;

struct GemmCase {
  Transpose transpose_a;
  Transpose transpose_b;
  std::size_t m, n, k;
};

inline std::string describe(const GemmCase& c) {
  return std::to_string(c.m) + " x " + std::to_string(c.n) + " x " + std::to_string(c.k) +
         (c.transpose_a == Transpose::yes ? " A^T" : "") +
         (c.transpose_b == Transpose::yes ? " B^T" : "");
}

// A stored matrix whose row stride is `padding` wider than its columns; its span ends with its
// last element.
template <std::size_t padding>
struct PaddedMatrix {
  std::size_t rows, columns;
  std::size_t stride() const { return columns + padding; }
  std::size_t elements() const { return rows == 0 ? 0 : (rows - 1) * stride() + columns; }
};

// op(X)'s rows × columns as stored: transposed, its columns are the stored rows.
template <std::size_t padding>
PaddedMatrix<padding> stored_as(Transpose transpose, std::size_t rows, std::size_t columns) {
  return transpose == Transpose::no ? PaddedMatrix<padding>{rows, columns}
                                    : PaddedMatrix<padding>{columns, rows};
}

}  // namespace zum_runtime::testing
