#pragma once

#include <zum_runtime/config.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <type_traits>

#include <zum_runtime/bfloat16.hpp>
#include <zum_runtime/panic.hpp>

// Matrix multiplication through the library's blocked buffers. The whole public GEMM, every
// element type, in the one header its callers include: longer than the library's other
// sources, most of it the contract written out.
//
//   C ← alpha · op(A) · op(B) + beta · C
//
// Every matrix is row-major with its own row stride: element (r, c) of a stored matrix X is
// x[r * x_row_stride + c].
//   op(A)  m × k   Transpose::no: A stored m × k, a_row_stride >= k
//                  Transpose::yes: A stored k × m, a_row_stride >= m
//   op(B)  k × n   Transpose::no: B stored k × n, b_row_stride >= n
//                  Transpose::yes: B stored n × k, b_row_stride >= k
//   C      m × n   c_row_stride >= n; only its m × n elements are read or written
//
// BLAS conventions: m = 0 or n = 0 touches nothing; k = 0 or alpha = 0 makes C ← beta · C
// without reading A or B; beta = 0 writes C without reading it, so NaN already in C never
// reaches the result. NaN and infinity in A and B propagate as IEEE arithmetic says.
//
// Accuracy: each element of C lies within (k + 2) · ε · (|alpha| · Σₚ |op(A)ᵢₚ| · |op(B)ₚⱼ| +
// |beta · cᵢⱼ|) of the exact result, ε the element type's machine epsilon. The summation order
// over k is fixed for a given kernel path and shape.
//
// How it runs. Blocks of op(A) are packed into family B buffers (KivB8x16: panels of 8 rows ×
// 16 columns of k, one load channel of 8 rows per step of k, k pair-interleaved inside each
// group of 16), blocks of op(B) into family A buffers (k × NR panels, one row of NR elements per
// step of k). Each block holds at most 65,536 elements: 256 × 256 (double: 128 rows of op(A) ×
// 256 of k). The micro-kernel loads B's panel rows as vectors and broadcasts A's channel
// elements, so its accumulators run along n and store straight into row-major C; it reads B's
// rows in A's interleaved channel order. Padding is zero, so partial tiles need no special case.
//
// Tiles by kernel path (the library picks the widest path the processor runs; off x86-64 the
// generic path runs the SSE2 path's tiles in the architecture's 16-byte vectors):
//   path      element  packed tile: layouts, MR × NR            narrow tile (few columns)
//   avx512    float    KivB8x16 × KivA32, 8 × 32, 16 zmm         16 × 16 against KivA16
//             double   KivB8x16 × KivA16, 8 × 16, 16 zmm         16 × 8 against KivA8
//   avx2      float    KivB8x16 × KivA16, 8 × 16, 4 rows a pass  8 × 8 against KivA8
//             double   KivB8x16 × KivA8, 8 × 8, 4 rows a pass    8 × 8
//   sse2      float    KivB8x16 × KivA8, 8 × 8, 4 rows a pass    8 × 8
//             double   KivB8x16 × KivA8, 8 × 8, 2 rows a pass    8 × 8
//   avx512_bf16 bfloat16 pair panels (12-row A, 32-column B), 12 × 32, 24 zmm
//                      (one pair word of k per 32-bit lane: vdpbf16ps's operand; the pair
//                      interleave of the blocked layouts groups pairs by 16 along k instead)
//   others   bfloat16 widened to float, then the float tiles above
// Eight rows of two vectors keep 16 accumulators in AVX-512's 32 registers with room for the B
// row and the broadcasts; narrower paths cover the 8-row panel in passes so that their
// accumulators stay within 16 registers. B's rows are the vectors and A's channel elements the
// broadcasts, so the accumulators store straight into row-major C, with no transpose.
//
// Packing pays where an operand is reused; for skinny shapes it costs more than it saves:
//   m <= 6, B untransposed: B streams through once, row by row, into C (nothing is packed);
//   n <= the narrow tile's NR: op(A) is read where stored, op(B) packed into narrow panels;
//   m <= 8, B untransposed: both operands are read where they are stored;
//   n <= 128: op(A) is read where stored, op(B) packed.
// The README gives the measurements behind each switch.
//
// Bad input panics with zum_runtime::Panic before anything is written, naming the operation
// and the shape ("gemm 64 x 32 x 16: ..."): a row stride smaller than its stored matrix's
// columns, a span shorter than its stored matrix's extent (rows − 1) × row_stride + columns
// when that matrix is read or written, C memory overlapping memory of A or B that the call
// reads, and sizes whose extents overflow std::size_t.
namespace zum_runtime::gemm {

enum class Transpose : std::uint8_t { no, yes };

// How a call runs. Threads split the call's blocks of m and n, never k, so C comes out
// bit-identical whatever the count (on the same kernel path). Each call starts its own workers
// and joins them before it returns: calls from many threads at once never share or wait on
// each other's workers, and use exactly the threads each asked for.
struct Options {
  unsigned threads = 1;  // 0: one per core this process may run on
};

template <typename Element>
class PackedB;

namespace detail {

struct PackedAccess;

struct AlignedDelete {
  void operator()(void* memory) const { ::operator delete[](memory, std::align_val_t{64}); }
};

ZUM_RUNTIME_API void multiply_f32(Transpose transpose_a, Transpose transpose_b, std::size_t m,
                                  std::size_t n, std::size_t k, float alpha,
                                  std::span<const float> a, std::size_t a_row_stride,
                                  std::span<const float> b, std::size_t b_row_stride, float beta,
                                  std::span<float> c, std::size_t c_row_stride, Options options);
ZUM_RUNTIME_API void multiply_f64(Transpose transpose_a, Transpose transpose_b, std::size_t m,
                                  std::size_t n, std::size_t k, double alpha,
                                  std::span<const double> a, std::size_t a_row_stride,
                                  std::span<const double> b, std::size_t b_row_stride, double beta,
                                  std::span<double> c, std::size_t c_row_stride, Options options);
ZUM_RUNTIME_API PackedB<float> pack_b_f32(Transpose transpose_b, std::size_t k, std::size_t n,
                                          std::span<const float> b, std::size_t b_row_stride);
ZUM_RUNTIME_API PackedB<double> pack_b_f64(Transpose transpose_b, std::size_t k, std::size_t n,
                                           std::span<const double> b, std::size_t b_row_stride);
ZUM_RUNTIME_API void multiply_packed_f32(Transpose transpose_a, std::size_t m, float alpha,
                                         std::span<const float> a, std::size_t a_row_stride,
                                         const PackedB<float>& b, float beta, std::span<float> c,
                                         std::size_t c_row_stride, Options options);
ZUM_RUNTIME_API void multiply_packed_f64(Transpose transpose_a, std::size_t m, double alpha,
                                         std::span<const double> a, std::size_t a_row_stride,
                                         const PackedB<double>& b, double beta, std::span<double> c,
                                         std::size_t c_row_stride, Options options);

template <typename Element>
inline constexpr bool multipliable =
    std::is_same_v<Element, float> || std::is_same_v<Element, double>;
template <typename Element>
inline constexpr bool packable = multipliable<Element> || std::is_same_v<Element, bfloat16> ||
                                 std::is_same_v<Element, std::int8_t>;

}  // namespace detail

template <typename Element>  // float or double
void multiply(Transpose transpose_a, Transpose transpose_b, std::size_t m, std::size_t n,
              std::size_t k, Element alpha, std::span<const Element> a, std::size_t a_row_stride,
              std::span<const Element> b, std::size_t b_row_stride, Element beta,
              std::span<Element> c, std::size_t c_row_stride, Options options) {
  static_assert(detail::multipliable<Element>,
                "zum_runtime::gemm::multiply takes float or double elements");
  if constexpr (std::is_same_v<Element, float>) {
    detail::multiply_f32(transpose_a, transpose_b, m, n, k, alpha, a, a_row_stride, b, b_row_stride,
                         beta, c, c_row_stride, options);
  } else if constexpr (std::is_same_v<Element, double>) {
    detail::multiply_f64(transpose_a, transpose_b, m, n, k, alpha, a, a_row_stride, b, b_row_stride,
                         beta, c, c_row_stride, options);
  }
}

// One thread.
template <typename Element>  // float or double
void multiply(Transpose transpose_a, Transpose transpose_b, std::size_t m, std::size_t n,
              std::size_t k, Element alpha, std::span<const Element> a, std::size_t a_row_stride,
              std::span<const Element> b, std::size_t b_row_stride, Element beta,
              std::span<Element> c, std::size_t c_row_stride) {
  multiply<Element>(transpose_a, transpose_b, m, n, k, alpha, a, a_row_stride, b, b_row_stride,
                    beta, c, c_row_stride, Options{});
}

// op(B), k × n, packed once into the same blocks multiply packs it into on every call, for
// multiplying many times: the packed multiply gives results bit-identical to the one-shot
// multiply with the same options. Owns its memory; movable, not copyable; any number of
// threads may multiply with it at once. Using a moved-from PackedB panics.
template <typename Element>
class PackedB {
  static_assert(detail::packable<Element>,
                "zum_runtime::gemm::PackedB holds float, double, bfloat16 or int8_t");

 public:
  PackedB(PackedB&& other) noexcept { *this = std::move(other); }
  PackedB& operator=(PackedB&& other) noexcept {
    k_ = other.k_;
    n_ = other.n_;
    transpose_b_ = other.transpose_b_;
    panel_columns_ = other.panel_columns_;
    bytes_ = other.bytes_;
    form_ = other.form_;
    zero_point_ = other.zero_point_;
    memory_ = std::move(other.memory_);
    valid_ = other.valid_;
    other.valid_ = false;
    other.bytes_ = 0;
    return *this;
  }
  PackedB(const PackedB&) = delete;
  PackedB& operator=(const PackedB&) = delete;
  ~PackedB() = default;

  std::size_t k() const { return k_; }
  std::size_t n() const { return n_; }
  std::size_t bytes() const { return bytes_; }  // memory held

 private:
  friend struct detail::PackedAccess;
  PackedB() = default;

  std::size_t k_ = 0;
  std::size_t n_ = 0;
  Transpose transpose_b_ = Transpose::no;
  std::size_t panel_columns_ = 0;  // NR of its panels
  std::size_t bytes_ = 0;
  std::uint8_t form_ = 0;  // how its panels hold the elements, where there is more than one way
  std::int8_t zero_point_ = 0;  // int8_t: B's zero point
  std::unique_ptr<std::byte[], detail::AlignedDelete> memory_;
  bool valid_ = false;
};

template <typename Element>
PackedB<Element> pack_b(Transpose transpose_b, std::size_t k, std::size_t n,
                        std::span<const Element> b, std::size_t b_row_stride) {
  static_assert(detail::multipliable<Element>, "zum_runtime::gemm::pack_b takes float or double");
  if constexpr (std::is_same_v<Element, float>) {
    return detail::pack_b_f32(transpose_b, k, n, b, b_row_stride);
  } else {
    return detail::pack_b_f64(transpose_b, k, n, b, b_row_stride);
  }
}

// C ← alpha · op(A) · B + beta · C with B packed by pack_b; m × b.n() results over b.k().
template <typename Element>
void multiply(Transpose transpose_a, std::size_t m, Element alpha, std::span<const Element> a,
              std::size_t a_row_stride, const PackedB<Element>& b, Element beta,
              std::span<Element> c, std::size_t c_row_stride, Options options = {}) {
  if constexpr (std::is_same_v<Element, float>) {
    detail::multiply_packed_f32(transpose_a, m, alpha, a, a_row_stride, b, beta, c, c_row_stride,
                                options);
  } else {
    detail::multiply_packed_f64(transpose_a, m, alpha, a, a_row_stride, b, beta, c, c_row_stride,
                                options);
  }
}

// bfloat16 operands, float results: C ← alpha · op(A) · op(B) + beta · C as above, with every
// product of two bfloat16 values exact in float and the sums run in float (never rounded to
// bfloat16). Each element of C lies within (k + 2) · ε_f32 · (|alpha| · Σₚ |op(A)ᵢₚ · op(B)ₚⱼ| +
// |beta · cᵢⱼ|) of the exact result on the bfloat16 values, plus (k + 2) · 2⁻¹²⁶ · (1 + |alpha|)
// where AVX-512's dot products take subnormals as zero. The conventions, strides, refusals and
// thread promises are the float form's. Without AVX-512 BF16 the operands are widened to float
// and multiplied by the float kernels.
ZUM_RUNTIME_API void multiply(Transpose transpose_a, Transpose transpose_b, std::size_t m,
                              std::size_t n, std::size_t k, float alpha,
                              std::span<const bfloat16> a, std::size_t a_row_stride,
                              std::span<const bfloat16> b, std::size_t b_row_stride, float beta,
                              std::span<float> c, std::size_t c_row_stride, Options options = {});
ZUM_RUNTIME_API PackedB<bfloat16> pack_b(Transpose transpose_b, std::size_t k, std::size_t n,
                                         std::span<const bfloat16> b, std::size_t b_row_stride);
ZUM_RUNTIME_API void multiply(Transpose transpose_a, std::size_t m, float alpha,
                              std::span<const bfloat16> a, std::size_t a_row_stride,
                              const PackedB<bfloat16>& b, float beta, std::span<float> c,
                              std::size_t c_row_stride, Options options = {});

// 8-bit integers: unsigned or signed bytes of A by signed bytes of B into int32 sums,
//
//   C ← (accumulate == yes ? C : 0) + Σₚ (op(A)ᵢₚ − a_zero_point) · (op(B)ₚⱼ − b_zero_point)
//
// exact modulo 2³²: sums past 2³¹ wrap as two's complement, never saturate, on every path and
// for any threads. k = 0 makes C 0 (or, accumulating, leaves it) without reading A or B; m = 0
// or n = 0 writes nothing. The strides, spans, refusals and thread promises are the float
// form's; A's bytes may lie in C's memory only where the call does not read them. On AVX-512
// VNNI the tile runs vpdpbusd on four k at a time, signed A shifted by 128 and the zero points
// folded into row and column sums; elsewhere both operands are widened to 16 bits, less their
// zero points, and multiplied in pairs (vpmaddwd), which is exact for these values.
enum class Accumulate : std::uint8_t { no, yes };

ZUM_RUNTIME_API void multiply(Transpose transpose_a, Transpose transpose_b, std::size_t m,
                              std::size_t n, std::size_t k, std::span<const std::uint8_t> a,
                              std::size_t a_row_stride, std::uint8_t a_zero_point,
                              std::span<const std::int8_t> b, std::size_t b_row_stride,
                              std::int8_t b_zero_point, Accumulate accumulate,
                              std::span<std::int32_t> c, std::size_t c_row_stride,
                              Options options = {});
ZUM_RUNTIME_API void multiply(Transpose transpose_a, Transpose transpose_b, std::size_t m,
                              std::size_t n, std::size_t k, std::span<const std::int8_t> a,
                              std::size_t a_row_stride, std::int8_t a_zero_point,
                              std::span<const std::int8_t> b, std::size_t b_row_stride,
                              std::int8_t b_zero_point, Accumulate accumulate,
                              std::span<std::int32_t> c, std::size_t c_row_stride,
                              Options options = {});
// op(B) packed once with its zero point (and, on VNNI, its column sums).
ZUM_RUNTIME_API PackedB<std::int8_t> pack_b(Transpose transpose_b, std::size_t k, std::size_t n,
                                            std::span<const std::int8_t> b,
                                            std::size_t b_row_stride, std::int8_t b_zero_point);
ZUM_RUNTIME_API void multiply(Transpose transpose_a, std::size_t m, std::span<const std::uint8_t> a,
                              std::size_t a_row_stride, std::uint8_t a_zero_point,
                              const PackedB<std::int8_t>& b, Accumulate accumulate,
                              std::span<std::int32_t> c, std::size_t c_row_stride,
                              Options options = {});
ZUM_RUNTIME_API void multiply(Transpose transpose_a, std::size_t m, std::span<const std::int8_t> a,
                              std::size_t a_row_stride, std::int8_t a_zero_point,
                              const PackedB<std::int8_t>& b, Accumulate accumulate,
                              std::span<std::int32_t> c, std::size_t c_row_stride,
                              Options options = {});

}  // namespace zum_runtime::gemm
