#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "gemm/gemm.hpp"
#include "gemm/internal/kernel_table.hpp"

// The GEMM below its public entry: one validated call, and the ways it can be run. Internal;
// the tests run every way on every path.
namespace zum_runtime::gemm::driver {

using kernels::SimdPath;

// op(B) packed whole into family A panels of nr columns: per slab of k (kc steps, the last
// one shorter), every panel of the padded columns, each panel depth (padded to 16) × nr. A
// problem reading it starts at its column first_column.
template <typename T>
struct PackedView {
  const T* data = nullptr;
  std::size_t padded_columns = 0;
  std::size_t nr = 0;
  std::size_t first_column = 0;
};

// One call of multiply, as its caller made it: results and scalars of type T, operands of type
// In (bfloat16 operands multiply into float).
template <typename T, typename In = T>
struct Problem {
  Transpose transpose_a;
  Transpose transpose_b;
  std::size_t m;
  std::size_t n;
  std::size_t k;
  T alpha;
  std::span<const In> a;
  std::size_t a_row_stride;
  std::span<const In> b;
  std::size_t b_row_stride;
  T beta;
  std::span<T> c;
  std::size_t c_row_stride;
  unsigned threads = 1;       // 0: one per core the process may run on
  PackedView<In> packed_b{};  // op(B) packed by pack_b instead of b; b is then unused
  bool packing_b = false;     // a call of pack_b, which reads only b
};

// How the operands reach the micro-kernels.
enum class Strategy : std::uint8_t {
  chosen,    // by shape, as multiply does
  blocked,   // both packed, block by block
  stored_a,  // op(A) where stored, op(B) packed
  stored,    // both where stored (op(B) untransposed only)
  sweep,     // both where stored, op(B) streamed once row by row (untransposed only)
  columns,   // op(A) where stored, op(B)'s few columns copied contiguous over k
  small,     // both where stored (or op(B) packed), each result a plain sum: tiny calls
};

// Panics, naming the call, unless the problem is one multiply accepts.
template <typename T, typename In>
void validate(const Problem<T, In>& problem);
// The same for pack_b, which reads only op(B).
template <typename T, typename In>
void validate_packing(const Problem<T, In>& problem);

// Runs a validated problem on `path` the way `strategy` says, on problem.threads threads.
template <typename T>
void run(const Problem<T>& problem, SimdPath path, Strategy strategy = Strategy::chosen);

// The path multiply runs on: the fastest this processor has.
SimdPath chosen_path();

// How run runs a problem: the way, the layouts its operands are read in ("stored" where read
// where they are stored, "rows" for a transposed B turned into rows) and the kernel's tile (rows ×
// columns; none for the sweep).
struct RunDescription {
  std::string_view way;
  std::string_view a_layout;
  std::string_view b_layout;
  std::size_t tile_rows;
  std::size_t tile_columns;
  unsigned threads;  // the threads it uses
};
template <typename T>
RunDescription describe(const Problem<T>& problem, SimdPath path);

// The columns of the panels op(B) packs into for n columns, and the elements it packs into.
template <typename T>
std::size_t packed_panel_columns(std::size_t n, SimdPath path);
template <typename T>
std::size_t packed_b_elements(std::size_t k, std::size_t n, SimdPath path);
// Packs op(B) of a validated problem (its k, n, transpose_b, b) whole, as run reads it.
template <typename T>
void pack_b_whole(const Problem<T>& problem, SimdPath path, T* buffer);

}  // namespace zum_runtime::gemm::driver
