#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

#include "internal/pair_interleave.hpp"
#include "simd/internal/vectors.hpp"

// Panel kernels of families A and C, whose panels span all rows: each moves one panel row of
// `columns` elements between the matrix and its contiguous place in the buffer. Words are the
// element's bytes; an element is never read as a number. Each family's scalar definition
// comes first: the generic path runs it, and the tests hold every kernel to it.
namespace zum_runtime::blocked_data::kernels {

// The kernels are written in the vector vocabulary.
using namespace simd;

// Word `from_index` of `from` to word `to_index` of `to`.
template <typename Word>
ZUM_KERNEL void move_word(const std::byte* from, size_t from_index, std::byte* to,
                          size_t to_index) {
  std::memcpy(to + to_index * sizeof(Word), from + from_index * sizeof(Word), sizeof(Word));
}

// Family A, scalar: buffer[j] = matrix[j] for the `width` columns of a panel row.
template <typename Word, size_t width>
struct ScalarPlainRow {
  static constexpr size_t rows = 1;
  static constexpr size_t columns = width;

  ZUM_KERNEL static void pack(const std::byte* matrix, size_t, std::byte* buffer) {
    for (size_t j = 0; j < width; ++j) move_word<Word>(matrix, j, buffer, j);
  }
  ZUM_KERNEL static void unpack(const std::byte* buffer, std::byte* matrix, size_t) {
    for (size_t j = 0; j < width; ++j) move_word<Word>(buffer, j, matrix, j);
  }
};

// Family A: the panel row as one vector value where it fits a register, so the compiler keeps
// it in one; else a plain copy.
template <typename Word, size_t width, size_t vector_bytes>
struct PlainRow {
  static constexpr size_t rows = 1;
  static constexpr size_t columns = width;
  using Row = Vector<Word, width>;

  ZUM_KERNEL static void pack(const std::byte* matrix, size_t, std::byte* buffer) {
    move(matrix, buffer);
  }
  ZUM_KERNEL static void unpack(const std::byte* buffer, std::byte* matrix, size_t) {
    move(buffer, matrix);
  }
  ZUM_KERNEL static void move(const std::byte* from, std::byte* to) {
    if constexpr (sizeof(Row) <= vector_bytes) {
      store(to, load<Row>(from));
    } else {
      std::memcpy(to, from, sizeof(Row));
    }
  }

  // The row as it is stored, in a register: the walks put two side by side in one store.
  ZUM_KERNEL static Row packed(const std::byte* matrix) { return load<Row>(matrix); }
  ZUM_KERNEL static Row unpacked(const std::byte* buffer) { return load<Row>(buffer); }
};

// Family C, scalar: buffer[s] = matrix[column_of_stored[s]] over the 16 columns of a row; the
// column pairs of the row's two halves alternate.
template <typename Word>
struct ScalarInterleavedRow {
  static constexpr size_t rows = 1;
  static constexpr size_t columns = 16;

  ZUM_KERNEL static void pack(const std::byte* matrix, size_t, std::byte* buffer) {
    for (size_t s = 0; s < columns; ++s) {
      move_word<Word>(matrix, pair_interleave::column_of_stored[s], buffer, s);
    }
  }
  ZUM_KERNEL static void unpack(const std::byte* buffer, std::byte* matrix, size_t) {
    for (size_t s = 0; s < columns; ++s) {
      move_word<Word>(buffer, s, matrix, pair_interleave::column_of_stored[s]);
    }
  }
};

// Family C, a row of 16 words in one register: one permute each way.
template <typename Word>
struct PermutedRow {
  static constexpr size_t rows = 1;
  static constexpr size_t columns = 16;
  using Row = Vector<Word, 16>;

  ZUM_KERNEL static void pack(const std::byte* matrix, size_t, std::byte* buffer) {
    store(buffer, packed(matrix));
  }
  ZUM_KERNEL static void unpack(const std::byte* buffer, std::byte* matrix, size_t) {
    store(matrix, unpacked(buffer));
  }

  ZUM_KERNEL static Row packed(const std::byte* matrix) {
    return permute<pair_interleave::column_of_stored>(load<Row>(matrix),
                                                      std::make_index_sequence<16>{});
  }
  ZUM_KERNEL static Row unpacked(const std::byte* buffer) {
    return permute<pair_interleave::stored_of_column>(load<Row>(buffer),
                                                      std::make_index_sequence<16>{});
  }
};

// Family C, a row wider than a register: its two halves a register at a time, their column
// pairs zipped (packing) or unzipped (unpacking) as units.
template <typename Word, size_t vector_bytes>
struct ZippedRowHalves {
  static constexpr size_t rows = 1;
  static constexpr size_t columns = 16;
  static constexpr size_t chunk_words = std::min<size_t>(vector_bytes / sizeof(Word), 8);
  static constexpr size_t chunk_bytes = chunk_words * sizeof(Word);
  static constexpr size_t half_bytes = 8 * sizeof(Word);
  using Chunk = Vector<Word, chunk_words>;
  static constexpr auto words = std::make_index_sequence<chunk_words>{};

  ZUM_KERNEL static void pack(const std::byte* matrix, size_t, std::byte* buffer) {
    for (size_t chunk = 0; chunk < 8 / chunk_words; ++chunk) {
      const Chunk low = load<Chunk>(matrix + chunk * chunk_bytes);
      const Chunk high = load<Chunk>(matrix + half_bytes + chunk * chunk_bytes);
      std::byte* to = buffer + 2 * chunk * chunk_bytes;
      if constexpr (chunk_words == 2) {  // one pair a chunk: already in place
        store(to, low);
        store(to + chunk_bytes, high);
      } else {
        store(to, zip_units<0>(low, high, words));
        store(to + chunk_bytes, zip_units<1>(low, high, words));
      }
    }
  }

  ZUM_KERNEL static void unpack(const std::byte* buffer, std::byte* matrix, size_t) {
    for (size_t chunk = 0; chunk < 8 / chunk_words; ++chunk) {
      const Chunk first = load<Chunk>(buffer + 2 * chunk * chunk_bytes);
      const Chunk second = load<Chunk>(buffer + (2 * chunk + 1) * chunk_bytes);
      std::byte* low = matrix + chunk * chunk_bytes;
      std::byte* high = matrix + half_bytes + chunk * chunk_bytes;
      if constexpr (chunk_words == 2) {
        store(low, first);
        store(high, second);
      } else {
        store(low, unzip_units<0>(first, second, words));
        store(high, unzip_units<1>(first, second, words));
      }
    }
  }
};

}  // namespace zum_runtime::blocked_data::kernels
