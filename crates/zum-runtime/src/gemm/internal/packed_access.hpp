#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <string>

#include "gemm/gemm.hpp"
#include "gemm/internal/bf16_driver.hpp"
#include "gemm/internal/driver.hpp"
#include "gemm/internal/int8_driver.hpp"

// Builds PackedB and reads it for the packed multiply.
namespace zum_runtime::gemm::detail {

struct PackedAccess {
  static std::unique_ptr<std::byte[], AlignedDelete> allocate(std::size_t bytes) {
    return std::unique_ptr<std::byte[], AlignedDelete>(static_cast<std::byte*>(
        ::operator new[](std::max<std::size_t>(bytes, 1), std::align_val_t{64})));
  }
  template <typename Stored, typename Element>
  static Stored* elements(const PackedB<Element>& packed) {
    return reinterpret_cast<Stored*>(packed.memory_.get());
  }
  // The panels a PackedB holds: how many columns each, and how many bytes in all.
  struct Packing {
    std::uint8_t form;
    std::size_t panel_columns;
    std::size_t bytes;
  };
  template <typename T>
  static Packing packing_of(const driver::Problem<T>& p) {
    const auto path = driver::chosen_path();
    return {0, driver::packed_panel_columns<T>(p.n, path),
            driver::packed_b_elements<T>(p.k, p.n, path) * sizeof(T)};
  }
  static Packing packing_of(const driver::Bf16Problem& p) {
    const driver::Bf16Packing packing = driver::bf16_packing(p.k, p.n, driver::chosen_bf16_path());
    return {static_cast<std::uint8_t>(packing.form), packing.panel_columns, packing.bytes};
  }
  template <typename T>
  static void fill(const driver::Problem<T>& p, std::byte* memory) {
    driver::pack_b_whole(p, driver::chosen_path(), reinterpret_cast<T*>(memory));
  }
  static void fill(const driver::Bf16Problem& p, std::byte* memory) {
    driver::pack_b_whole_bf16(p, driver::chosen_bf16_path(), memory);
  }

  // A PackedB of op(B) of a validated pack_b problem, its memory allocated, not yet filled.
  template <typename Element, typename T, typename In>
  static PackedB<Element> allocated(const driver::Problem<T, In>& problem, const Packing& packing) {
    PackedB<Element> packed;
    packed.k_ = problem.k;
    packed.n_ = problem.n;
    packed.transpose_b_ = problem.transpose_b;
    packed.panel_columns_ = packing.panel_columns;
    packed.form_ = packing.form;
    packed.bytes_ = packing.bytes;
    packed.memory_ = allocate(packed.bytes_);
    packed.valid_ = true;
    return packed;
  }

  template <typename T, typename In>
  static PackedB<In> pack(driver::Problem<T, In> problem) {
    problem.packing_b = true;
    driver::validate_packing(problem);
    PackedB<In> packed = allocated<In>(problem, packing_of(problem));
    if (problem.k != 0 && problem.n != 0) fill(problem, packed.memory_.get());
    return packed;
  }

  // The one-shot problem the packed multiply stands for, reading B from its packing. Its
  // operands are of type In; B's elements (Element) are In but for signed bytes, which the
  // 8-bit problem reads as bytes.
  template <typename T, typename In, typename Element>
  static driver::Problem<T, In> problem(Transpose transpose_a, std::size_t m, T alpha,
                                        std::span<const In> a, std::size_t a_row_stride,
                                        const PackedB<Element>& b, T beta, std::span<T> c,
                                        std::size_t c_row_stride, Options options) {
    require_valid(m, b);
    driver::Problem<T, In> p{transpose_a, b.transpose_b_, m,  b.n_, b.k_, alpha,
                             a,           a_row_stride,   {}, b.n_, beta, c,
                             c_row_stride};
    p.threads = options.threads;
    p.packed_b = {elements<const In>(b), kernels::round_up(b.n_, b.panel_columns_),
                  b.panel_columns_, 0};
    return p;
  }

  // 8-bit integers: the path's panels, with the column sums after them on VNNI.
  static PackedB<std::int8_t> pack(const driver::Int8Problem& q) {
    driver::Int8Operands problem = q.operands;
    problem.packing_b = true;
    driver::validate_packing(problem);
    const driver::Int8Path path = driver::chosen_int8_path();
    const auto& kernels = driver::int8_kernels(path);
    const driver::Int8Packing packing = driver::int8_packing(problem.k, problem.n, kernels);
    PackedB<std::int8_t> packed = allocated<std::int8_t>(
        problem, {static_cast<std::uint8_t>(path), packing.panel_columns, packing.bytes});
    packed.zero_point_ = static_cast<std::int8_t>(q.b_zero_point);
    if (problem.k != 0 && problem.n != 0) {
      driver::pack_b_whole_int8(q, kernels, elements<std::uint32_t>(packed));
    }
    return packed;
  }

  // The one-shot 8-bit problem the packed multiply stands for, on the path b was packed for.
  static driver::Int8Problem problem(Transpose transpose_a, std::size_t m,
                                     std::span<const std::uint8_t> a, std::size_t a_row_stride,
                                     kernels::int8::Values a_values, const PackedB<std::int8_t>& b,
                                     Accumulate accumulate, std::span<std::int32_t> c,
                                     std::size_t c_row_stride, Options options) {
    const driver::Int8Operands p = problem<std::int32_t, std::uint8_t>(
        transpose_a, m, 1, a, a_row_stride, b, accumulate == Accumulate::yes ? 1 : 0, c,
        c_row_stride, options);
    const auto& kernels = driver::int8_kernels(path_of(b));
    const std::size_t sums_offset = driver::int8_packing(b.k_, b.n_, kernels).sums_offset;
    return {p, a_values, b.zero_point_, elements<const std::uint32_t>(b) + sums_offset};
  }
  static driver::Int8Path path_of(const PackedB<std::int8_t>& b) {
    return static_cast<driver::Int8Path>(b.form_);
  }
  template <typename In>
  static void require_valid(std::size_t m, const PackedB<In>& b) {
    if (!b.valid_) {
      panic("gemm " + std::to_string(m) + " x " + std::to_string(b.n_) + " x " +
            std::to_string(b.k_) + ": the packed b was moved from");
    }
  }
};

}  // namespace zum_runtime::gemm::detail
