#include <cstdint>
#include <string>

#include "gemm/internal/driver.hpp"

// The refusals: every call is checked whole before anything is read or written, and a call
// that cannot be run panics, naming itself and what is wrong.
namespace zum_runtime::gemm::driver {
namespace {

using std::size_t;

struct StoredShape {
  const char* name;
  size_t rows;
  size_t columns;
  size_t row_stride;
};

template <typename T, typename In>
StoredShape stored_a(const Problem<T, In>& p) {
  return p.transpose_a == Transpose::no ? StoredShape{"a", p.m, p.k, p.a_row_stride}
                                        : StoredShape{"a", p.k, p.m, p.a_row_stride};
}
template <typename T, typename In>
StoredShape stored_b(const Problem<T, In>& p) {
  return p.transpose_b == Transpose::no ? StoredShape{"b", p.k, p.n, p.b_row_stride}
                                        : StoredShape{"b", p.n, p.k, p.b_row_stride};
}
template <typename T, typename In>
StoredShape stored_c(const Problem<T, In>& p) {
  return {"c", p.m, p.n, p.c_row_stride};
}

// "gemm 64 x 32 x 16: ...", or for pack_b "gemm pack_b 16 x 32: ..." (k × n).
template <typename T, typename In>
[[noreturn, gnu::cold]] void refuse(const Problem<T, In>& p, const std::string& reason) {
  const std::string shape =
      p.packing_b ? "pack_b " + std::to_string(p.k) + " x " + std::to_string(p.n)
                  : std::to_string(p.m) + " x " + std::to_string(p.n) + " x " + std::to_string(p.k);
  panic("gemm " + shape + ": " + reason);
}

// (rows − 1) × row_stride + columns, the elements a stored matrix spans; false on overflow.
bool extent_of(const StoredShape& shape, size_t& extent) {
  if (shape.rows == 0 || shape.columns == 0) {
    extent = 0;
    return true;
  }
  return !__builtin_mul_overflow(shape.rows - 1, shape.row_stride, &extent) &&
         !__builtin_add_overflow(extent, shape.columns, &extent);
}

// The refusals' messages are built out of line, so that the checks every call makes stay
// a few inlined comparisons.
template <typename T, typename In>
[[noreturn, gnu::cold, gnu::noinline]] void refuse_stride(const Problem<T, In>& p,
                                                          const StoredShape& shape) {
  refuse(p, std::string(shape.name) + "_row_stride " + std::to_string(shape.row_stride) +
                " is less than its " + std::to_string(shape.columns) + " columns");
}

template <typename T, typename In>
[[noreturn, gnu::cold, gnu::noinline]] void refuse_extent(const Problem<T, In>& p,
                                                          const StoredShape& shape) {
  refuse(p, std::string(shape.name) + ": " + std::to_string(shape.rows) + " rows of stride " +
                std::to_string(shape.row_stride) + " span more memory than exists");
}

template <typename T, typename In>
[[noreturn, gnu::cold, gnu::noinline]] void refuse_span(const Problem<T, In>& p,
                                                        const StoredShape& shape, size_t size,
                                                        size_t extent) {
  refuse(p, std::string(shape.name) + " holds " + std::to_string(size) +
                " elements, fewer than the " + std::to_string(extent) + " its " +
                std::to_string(shape.rows) + " x " + std::to_string(shape.columns) +
                " elements with row stride " + std::to_string(shape.row_stride) + " need");
}

template <typename T, typename In>
void require_stride(const Problem<T, In>& p, const StoredShape& shape) {
  if (shape.row_stride < shape.columns) refuse_stride(p, shape);
}

template <typename T, typename In, typename Element>
void require_span(const Problem<T, In>& p, const StoredShape& shape, std::span<Element> span) {
  size_t extent = 0;
  size_t bytes = 0;
  if (!extent_of(shape, extent) || __builtin_mul_overflow(extent, sizeof(Element), &bytes)) {
    refuse_extent(p, shape);
  }
  if (span.size() < extent) refuse_span(p, shape, span.size(), extent);
}

// The bytes a call touches of a stored matrix: `rows` runs of `width` bytes, `stride` apart.
struct Touched {
  std::uintptr_t start;
  size_t rows;
  size_t width;
  size_t stride;

  std::uintptr_t row_start(size_t row) const { return start + row * stride; }
  // One past its last byte; the spans were checked to hold every row.
  std::uintptr_t end() const { return row_start(rows - 1) + width; }
};

template <typename Element>
Touched touched(const StoredShape& shape, const Element* data) {
  return {reinterpret_cast<std::uintptr_t>(data), shape.rows, shape.columns * sizeof(Element),
          shape.row_stride * sizeof(Element)};
}

// Whether some row of `y` shares a byte with [from, to).
bool meets(const Touched& y, std::uintptr_t from, std::uintptr_t to) {
  if (to <= y.start) return false;
  // The first row of y that ends after `from`.
  size_t row = 0;
  if (from >= y.start + y.width) {
    if (y.rows == 1) return false;
    row = (from - y.start - y.width) / y.stride + 1;
  }
  return row < y.rows && y.row_start(row) < to;
}

// Whether two interleaved strided regions share a byte; walks the one with fewer rows.
[[gnu::noinline]] bool rows_overlap(const Touched& x, const Touched& y) {
  if (x.rows > y.rows) return rows_overlap(y, x);
  for (size_t row = 0; row < x.rows; ++row) {
    if (meets(y, x.row_start(row), x.row_start(row) + x.width)) return true;
  }
  return false;
}

// Whether two strided regions share a byte.
inline bool overlap(const Touched& x, const Touched& y) {
  if (x.rows == 0 || x.width == 0 || y.rows == 0 || y.width == 0) return false;
  // Apart as a whole, as nearly every call's operands are: no need to walk the rows.
  if (x.end() <= y.start || y.end() <= x.start) return false;
  return rows_overlap(x, y);
}

template <typename T, typename In>
bool reads_operands(const Problem<T, In>& p) {
  return p.m != 0 && p.n != 0 && p.k != 0 && p.alpha != T{0};
}

}  // namespace

template <typename T, typename In>
void validate(const Problem<T, In>& p) {
  const bool packed = p.packed_b.data != nullptr;
  require_stride(p, stored_a(p));
  if (!packed) require_stride(p, stored_b(p));
  require_stride(p, stored_c(p));
  if (p.m == 0 || p.n == 0) return;
  const bool reads = reads_operands(p);
  if (reads) {
    require_span(p, stored_a(p), p.a);
    if (!packed) require_span(p, stored_b(p), p.b);
  }
  require_span(p, stored_c(p), p.c);
  if (!reads) return;
  const Touched c = touched(stored_c(p), p.c.data());
  if (overlap(c, touched(stored_a(p), p.a.data()))) refuse(p, "c overlaps a");
  if (!packed && overlap(c, touched(stored_b(p), p.b.data()))) refuse(p, "c overlaps b");
}

template <typename T, typename In>
void validate_packing(const Problem<T, In>& p) {
  require_stride(p, stored_b(p));
  if (p.k != 0 && p.n != 0) require_span(p, stored_b(p), p.b);
}

template void validate<float, float>(const Problem<float>&);
template void validate_packing<float, float>(const Problem<float>&);
template void validate<double, double>(const Problem<double>&);
template void validate_packing<double, double>(const Problem<double>&);
template void validate<float, bfloat16>(const Problem<float, bfloat16>&);
template void validate_packing<float, bfloat16>(const Problem<float, bfloat16>&);
template void validate<std::int32_t, std::uint8_t>(const Problem<std::int32_t, std::uint8_t>&);
template void validate_packing<std::int32_t, std::uint8_t>(
    const Problem<std::int32_t, std::uint8_t>&);

}  // namespace zum_runtime::gemm::driver
