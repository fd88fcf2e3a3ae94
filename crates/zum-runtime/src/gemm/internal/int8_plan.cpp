#include <array>

#include "gemm/internal/int8_driver.hpp"
#include "gemm/internal/threads.hpp"
#include "simd/internal/paths.hpp"

// Which kernels an 8-bit integer problem runs on: VNNI's quads where the processor has them
// and ZUM_MAX_ISA allows, else AVX2's pairs, else the scalar pairs.
namespace zum_runtime::gemm::driver {

std::string_view int8_path_name(Int8Path path) {
  constexpr std::array<std::string_view, 3> names{"generic", "avx2", "avx512_vnni"};
  return names.at(static_cast<std::size_t>(path));
}

Int8Path chosen_int8_path() {
  static const Int8Path path = simd::processor_has_int8_dot_products() ? Int8Path::avx512_vnni
                               : chosen_path() >= SimdPath::avx2       ? Int8Path::avx2
                                                                       : Int8Path::generic;
  return path;
}

const kernels::int8::Kernels& int8_kernels(Int8Path path) {
#if defined(__x86_64__)
  if (path == Int8Path::avx512_vnni) return kernels::int8::avx512_vnni_quads();
  if (path == Int8Path::avx2) return kernels::int8::avx2_pairs();
#endif
  (void)path;
  return kernels::int8::scalar_pairs();
}

RunDescription describe_int8(const Int8Problem& q, Int8Path path) {
  const kernels::int8::Kernels& kernels = int8_kernels(path);
  const auto parts =
      static_cast<unsigned>(part_count(q.operands, threads_asked(q.operands.threads)));
  const std::string_view form = kernels.k_per_word == 4 ? "quad panels" : "pair panels";
  if (runs_int8_stored(q, kernels)) {
    return {"stored", "stored", "stored", kernels::int8::stored_rows, 64, parts};
  }
  return {"dot products", reads_int8_a_stored(q, kernels) ? "stored" : form,
          form,           kernels.mr,
          kernels.nr,     parts};
}

}  // namespace zum_runtime::gemm::driver
