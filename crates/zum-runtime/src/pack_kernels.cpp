#include "pack_kernels.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#include "pair_interleave.hpp"
#include "simd_vectors.hpp"

// Every kernel and walk below is forced inline (ZUM_KERNEL), so each path's entry points at the
// end compile the whole walk and its kernels for that path's instruction set.
namespace zum_runtime::blocked_data::kernels {
namespace {

using std::size_t;

constexpr size_t cache_line_bytes = 64;
// A matrix this small stays in the first-level cache whatever order it is written in.
constexpr size_t small_matrix_bytes = 16 * 1024;

// A panel kernel moves one piece of a panel, `rows` × `columns` matrix elements, between the
// matrix (rows `row_stride` elements apart) and its contiguous place in the buffer. Words are
// the element's bytes; an element is never read as a number.

// Family A: a panel row is `width` consecutive matrix elements, stored as they are: one vector
// value where the row fits a register, so the compiler keeps it there, else a plain copy.
template <typename Word, size_t width, size_t vector_bytes>
struct PlainPanelRow {
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
};

// Family C: a panel row holds 16 elements in the pair interleave: the column pairs of the row's
// two halves, alternating. Where the row fits a register that is one permute each way;
// otherwise the halves go a register at a time, their pairs zipped (or unzipped) as units.
template <typename Word, size_t vector_bytes>
struct InterleavedPanelRow {
  static constexpr size_t rows = 1;
  static constexpr size_t columns = 16;
  static constexpr size_t half_bytes = 8 * sizeof(Word);
  static constexpr size_t chunk_words = std::min(vector_bytes, half_bytes) / sizeof(Word);
  static constexpr size_t chunks_per_half = 8 / chunk_words;
  using Row = Vector<Word, 16>;
  using Chunk = Vector<Word, chunk_words>;

  ZUM_KERNEL static void pack(const std::byte* matrix, size_t, std::byte* buffer) {
    if constexpr (columns * sizeof(Word) <= vector_bytes) {
      store(buffer, permute<pair_interleave::column_of_stored>(load<Row>(matrix),
                                                               std::make_index_sequence<16>{}));
    } else {
      for (size_t chunk = 0; chunk < chunks_per_half; ++chunk) {
        const Chunk low = load<Chunk>(matrix + chunk * chunk_words * sizeof(Word));
        const Chunk high = load<Chunk>(matrix + (8 + chunk * chunk_words) * sizeof(Word));
        store_zipped(buffer + 2 * chunk * chunk_words * sizeof(Word), low, high);
      }
    }
  }

  ZUM_KERNEL static void unpack(const std::byte* buffer, std::byte* matrix, size_t) {
    if constexpr (columns * sizeof(Word) <= vector_bytes) {
      store(matrix, permute<pair_interleave::stored_of_column>(load<Row>(buffer),
                                                               std::make_index_sequence<16>{}));
    } else {
      for (size_t chunk = 0; chunk < chunks_per_half; ++chunk) {
        const std::byte* stored = buffer + 2 * chunk * chunk_words * sizeof(Word);
        const Chunk first = load<Chunk>(stored);
        const Chunk second = load<Chunk>(stored + chunk_words * sizeof(Word));
        store_unzipped(matrix + chunk * chunk_words * sizeof(Word),
                       matrix + (8 + chunk * chunk_words) * sizeof(Word), first, second);
      }
    }
  }

  // Pairs of `low` and `high` alternating, over two chunks; a chunk of one pair is just copied.
  ZUM_KERNEL static void store_zipped(std::byte* to, Chunk low, Chunk high) {
    constexpr auto words = std::make_index_sequence<chunk_words>{};
    if constexpr (chunk_words == 2) {
      store(to, low);
      store(to + 2 * sizeof(Word), high);
    } else {
      store(to, zip_units<0>(low, high, words));
      store(to + chunk_words * sizeof(Word), zip_units<1>(low, high, words));
    }
  }

  ZUM_KERNEL static void store_unzipped(std::byte* low_to, std::byte* high_to, Chunk first,
                                        Chunk second) {
    constexpr auto words = std::make_index_sequence<chunk_words>{};
    if constexpr (chunk_words == 2) {
      store(low_to, first);
      store(high_to, second);
    } else {
      store(low_to, unzip_units<0>(first, second, words));
      store(high_to, unzip_units<1>(first, second, words));
    }
  }
};

// Family B: a whole panel of `height` rows × 16 columns, stored as 16 load channels of
// `height` elements, channel k holding column column_of_stored[k] top row first: a transpose,
// done as 8 × 8 blocks in registers, with each column sent to its channel. Where a row of the
// panel fits a register, its two 8-column halves are transposed side by side in one vector;
// where 8 words do not fit one, the blocks are smaller: k × k with k words a register.
template <typename Word, size_t height, size_t vector_bytes>
struct TransposedPanel {
  static constexpr size_t rows = height;
  static constexpr size_t columns = 16;
  static constexpr size_t block_size = std::min<size_t>(8, vector_bytes / sizeof(Word));
  static constexpr size_t blocks_side_by_side = columns * sizeof(Word) <= vector_bytes ? 2 : 1;
  static constexpr size_t lanes = 8 * blocks_side_by_side;
  using BlockRow = Vector<Word, lanes>;
  using Channel = Vector<Word, 8>;

  static constexpr size_t channel_offset(size_t column, size_t row) {
    return (pair_interleave::stored_of_column[column] * height + row) * sizeof(Word);
  }

  ZUM_KERNEL static void pack(const std::byte* matrix, size_t row_stride, std::byte* buffer) {
    if constexpr (block_size < 8) {
      pack_small_blocks(matrix, row_stride, buffer);
      return;
    } else if constexpr (sizeof(Word) == 4) {
      for_each_quad(matrix, row_stride, buffer, pack_quad);
      return;
    }
    for (size_t block_row = 0; block_row < height; block_row += 8) {
      for (size_t block_column = 0; block_column < columns; block_column += lanes) {
        std::array<BlockRow, 8> block;
        for (size_t row = 0; row < 8; ++row) {
          const size_t element = (block_row + row) * row_stride + block_column;
          block[row] = load<BlockRow>(matrix + element * sizeof(Word));
        }
        transpose<false>(block);
        for (size_t column = 0; column < 8; ++column) {
          store_channels(buffer, block_row, block_column + column, block[column]);
        }
      }
    }
  }

  ZUM_KERNEL static void unpack(const std::byte* buffer, std::byte* matrix, size_t row_stride) {
    if constexpr (block_size < 8) {
      unpack_small_blocks(buffer, matrix, row_stride);
      return;
    }
    for (size_t block_row = 0; block_row < height; block_row += 8) {
      for (size_t block_column = 0; block_column < columns; block_column += lanes) {
        std::array<BlockRow, 8> block;
        for (size_t column = 0; column < 8; ++column) {
          block[column] = load_channels(buffer, block_row, block_column + column);
        }
        transpose<true>(block);
        for (size_t row = 0; row < 8; ++row) {
          const size_t element = (block_row + row) * row_stride + block_column;
          store(matrix + element * sizeof(Word), block[row]);
        }
      }
    }
  }

  // k × k blocks, k words a register, for words too wide for 8 to fit one.
  using SmallRow = Vector<Word, block_size>;
  using SmallBlock = std::array<SmallRow, block_size>;

  ZUM_KERNEL static void pack_small_blocks(const std::byte* matrix, size_t row_stride,
                                           std::byte* buffer) {
    for (size_t block_row = 0; block_row < height; block_row += block_size) {
      for (size_t block_column = 0; block_column < columns; block_column += block_size) {
        SmallBlock block;
        for (size_t row = 0; row < block_size; ++row) {
          const size_t element = (block_row + row) * row_stride + block_column;
          block[row] = load<SmallRow>(matrix + element * sizeof(Word));
        }
        transpose_square<SmallRow, block_size>(block);
        for (size_t column = 0; column < block_size; ++column) {
          store(buffer + channel_offset(block_column + column, block_row), block[column]);
        }
      }
    }
  }

  ZUM_KERNEL static void unpack_small_blocks(const std::byte* buffer, std::byte* matrix,
                                             size_t row_stride) {
    for (size_t block_row = 0; block_row < height; block_row += block_size) {
      for (size_t block_column = 0; block_column < columns; block_column += block_size) {
        SmallBlock block;
        for (size_t column = 0; column < block_size; ++column) {
          block[column] = load<SmallRow>(buffer + channel_offset(block_column + column, block_row));
        }
        transpose_square<SmallRow, block_size>(block);
        for (size_t row = 0; row < block_size; ++row) {
          const size_t element = (block_row + row) * row_stride + block_column;
          store(matrix + element * sizeof(Word), block[row]);
        }
      }
    }
  }

  // Packing 4-byte words moves 8 rows × 4 columns at a time, a quad. A vector holds four words
  // of row i beside the same four of row i + 4, so each 128-bit half is a 4 × 4 block, and a
  // 4 × 4 transpose within the halves, two rounds of in-lane shuffles, turns rows into columns
  // of 8. The halves are read straight from memory, which costs no shuffle. (Unpacking the
  // same way, writing halves, measured slower than the 8 × 8 transpose below.)
  using Half = Vector<Word, 4>;
  using Quad = std::array<Vector<Word, 8>, 4>;

  template <typename Move>
  ZUM_KERNEL static void for_each_quad(const std::byte* matrix, size_t row_stride,
                                       std::byte* buffer, Move move) {
    for (size_t block_row = 0; block_row < height; block_row += 8) {
      for (size_t column = 0; column < columns; column += 4) {
        move(matrix + (block_row * row_stride + column) * sizeof(Word), row_stride, buffer,
             block_row, column);
      }
    }
  }

  ZUM_KERNEL static void transpose_halves(Quad& quad) {
    using enum LaneShuffle;
    constexpr auto lanes = std::make_index_sequence<8>{};
    const auto low_01 = shuffle_lanes<unpack_low>(quad[0], quad[1], lanes);
    const auto high_01 = shuffle_lanes<unpack_high>(quad[0], quad[1], lanes);
    const auto low_23 = shuffle_lanes<unpack_low>(quad[2], quad[3], lanes);
    const auto high_23 = shuffle_lanes<unpack_high>(quad[2], quad[3], lanes);
    quad = {shuffle_lanes<pairs_low>(low_01, low_23, lanes),
            shuffle_lanes<pairs_high>(low_01, low_23, lanes),
            shuffle_lanes<pairs_low>(high_01, high_23, lanes),
            shuffle_lanes<pairs_high>(high_01, high_23, lanes)};
  }

  static constexpr auto pack_quad =
      [](const std::byte* matrix, size_t row_stride, std::byte* buffer, size_t block_row,
         size_t column) __attribute__((always_inline)) {
    Quad quad;
    for (size_t row = 0; row < 4; ++row) {
      quad[row] = side_by_side(load<Half>(matrix + row * row_stride * sizeof(Word)),
                               load<Half>(matrix + (row + 4) * row_stride * sizeof(Word)),
                               std::make_index_sequence<8>{});
    }
    transpose_halves(quad);
    for (size_t offset = 0; offset < 4; ++offset) {
      store(buffer + channel_offset(column + offset, block_row), quad[offset]);
    }
  };

  // Both transposes give the same result; each direction uses the one that measured faster.
  template <bool unpacking>
  ZUM_KERNEL static void transpose(std::array<BlockRow, 8>& block) {
    if constexpr (unpacking && sizeof(Word) == 4) {
      transpose_8x8_blocks_of_words<BlockRow, lanes>(block);
    } else {
      transpose_8x8_blocks<BlockRow, lanes>(block);
    }
  }

  // Column `column` of the first block, and column `column + 8` of the second when there is one.
  ZUM_KERNEL static void store_channels(std::byte* buffer, size_t row, size_t column,
                                        BlockRow value) {
    constexpr auto channel = std::make_index_sequence<8>{};
    if constexpr (blocks_side_by_side == 1) {
      store(buffer + channel_offset(column, row), value);
    } else {
      store(buffer + channel_offset(column, row), segment_lanes<0>(value, channel));
      store(buffer + channel_offset(column + 8, row), segment_lanes<1>(value, channel));
    }
  }

  ZUM_KERNEL static BlockRow load_channels(const std::byte* buffer, size_t row, size_t column) {
    if constexpr (blocks_side_by_side == 1) {
      return load<BlockRow>(buffer + channel_offset(column, row));
    } else {
      return side_by_side(load<Channel>(buffer + channel_offset(column, row)),
                          load<Channel>(buffer + channel_offset(column + 8, row)),
                          std::make_index_sequence<16>{});
    }
  }
};

template <typename Word, BlockLayout layout, size_t vector_bytes>
constexpr auto panel_kernel() {
  constexpr PanelShape shape = panel_shape(layout);
  if constexpr (shape.family == 'A') {
    return PlainPanelRow<Word, shape.columns, vector_bytes>{};
  } else if constexpr (shape.family == 'B') {
    return TransposedPanel<Word, shape.rows, vector_bytes>{};
  } else {
    return InterleavedPanelRow<Word, vector_bytes>{};
  }
}

template <typename Word, BlockLayout layout, size_t vector_bytes>
using PanelKernel = decltype(panel_kernel<Word, layout, vector_bytes>());

// The two directions share the walks below, which write their destination in order: the
// buffer panel by panel, the matrix row by row. At the matrix's edge a panel piece is only
// partly inside the matrix: it goes through a zero-filled scratch piece, so the edge runs the
// same kernel as the interior, and only the part inside the matrix is read or written.
template <typename Word, typename Panel>
struct Packing {
  static constexpr bool writes_matrix = false;
  const std::byte* matrix;
  std::byte* buffer;
  size_t row_stride;

  ZUM_KERNEL void whole(size_t matrix_element, size_t buffer_element) const {
    Panel::pack(matrix + matrix_element * sizeof(Word), row_stride,
                buffer + buffer_element * sizeof(Word));
  }

  ZUM_KERNEL void partial(size_t matrix_element, size_t buffer_element, size_t valid_rows,
                          size_t valid_columns) const {
    std::array<std::byte, Panel::rows * Panel::columns * sizeof(Word)> piece{};
    for (size_t row = 0; row < valid_rows; ++row) {
      std::memcpy(piece.data() + row * Panel::columns * sizeof(Word),
                  matrix + (matrix_element + row * row_stride) * sizeof(Word),
                  valid_columns * sizeof(Word));
    }
    Panel::pack(piece.data(), Panel::columns, buffer + buffer_element * sizeof(Word));
  }
};

template <typename Word, typename Panel, size_t vector_bytes>
struct Unpacking {
  static constexpr bool writes_matrix = true;
  const std::byte* buffer;
  std::byte* matrix;
  size_t row_stride;

  ZUM_KERNEL void whole(size_t matrix_element, size_t buffer_element) const {
    Panel::unpack(buffer + buffer_element * sizeof(Word), matrix + matrix_element * sizeof(Word),
                  row_stride);
  }

  // `count` panel rows that lie together in the buffer: read, then written, as many at a time
  // as eight registers hold.
  template <size_t count>
  ZUM_KERNEL void whole_rows(size_t matrix_element, size_t buffer_element) const {
    using PanelRow = Vector<Word, Panel::columns>;
    if constexpr (sizeof(PanelRow) > vector_bytes) {
      // A row wider than a register would be held in memory anyway: moved a row at a time.
      for (size_t row = 0; row < count; ++row) {
        whole(matrix_element + row * row_stride, buffer_element + row * Panel::columns);
      }
      return;
    }
    constexpr size_t batch = std::clamp<size_t>(8 * vector_bytes / sizeof(PanelRow), 1, count);
    for (size_t first = 0; first < count; first += batch) {
      std::array<PanelRow, batch> panel_rows;
      for (size_t row = 0; row < batch; ++row) {
        const size_t element = buffer_element + (first + row) * Panel::columns;
        panel_rows[row] = load<PanelRow>(buffer + element * sizeof(Word));
      }
      for (size_t row = 0; row < batch; ++row) {
        const size_t element = matrix_element + (first + row) * row_stride;
        Panel::unpack(reinterpret_cast<const std::byte*>(&panel_rows[row]),
                      matrix + element * sizeof(Word), row_stride);
      }
    }
  }

  ZUM_KERNEL void partial(size_t matrix_element, size_t buffer_element, size_t valid_rows,
                          size_t valid_columns) const {
    std::array<std::byte, Panel::rows * Panel::columns * sizeof(Word)> piece;
    Panel::unpack(buffer + buffer_element * sizeof(Word), piece.data(), Panel::columns);
    for (size_t row = 0; row < valid_rows; ++row) {
      std::memcpy(matrix + (matrix_element + row * row_stride) * sizeof(Word),
                  piece.data() + row * Panel::columns * sizeof(Word), valid_columns * sizeof(Word));
    }
  }
};

// How many panels the walk below moves together: packing reads a cache line of each row at a
// time; unpacking writes up to two cache lines of each row from at most two panels, which
// measured fastest.
template <typename Word, size_t width>
constexpr size_t panels_side_by_side(bool writes_matrix) {
  const size_t panel_row_bytes = width * sizeof(Word);
  if (!writes_matrix) return std::max<size_t>(1, cache_line_bytes / panel_row_bytes);
  return std::clamp<size_t>(2 * cache_line_bytes / panel_row_bytes, 1, 2);
}

// Families A and C: panels of `width` columns spanning all rows, row-major inside. Packing
// walks panels side by side together, a row at a time, so each matrix row is read a whole
// cache line at a time even when a power-of-two stride maps the rows onto few cache sets.
// A large matrix is unpacked a block of rows at a time across all panels, so its rows stay in
// the first-level cache until they are whole. A block's rows of one panel lie together in the
// buffer; they are all read before any is written, so no read waits on a write that merely
// shares its address bits within a page.
template <typename Word, typename Panel, typename Direction>
ZUM_KERNEL void unpack_row_blocks(const PackJob& job, const Direction& direction) {
  constexpr size_t width = Panel::columns;
  constexpr size_t block_rows = std::max<size_t>(8, 4 * cache_line_bytes / (width * sizeof(Word)));
  const size_t rows = job.rows;
  const size_t panel_elements = rows * width;
  const size_t whole_panels = job.columns / width;
  const size_t partial_columns = job.columns - whole_panels * width;
  for (size_t row_start = 0; row_start < rows; row_start += block_rows) {
    const size_t row_end = std::min(rows, row_start + block_rows);
    for (size_t panel = 0; panel < whole_panels; ++panel) {
      const size_t matrix_element = row_start * job.row_stride + panel * width;
      const size_t buffer_element = panel * panel_elements + row_start * width;
      if (row_end - row_start == block_rows) {
        direction.template whole_rows<block_rows>(matrix_element, buffer_element);
        continue;
      }
      for (size_t row = 0; row < row_end - row_start; ++row) {
        direction.whole(matrix_element + row * job.row_stride, buffer_element + row * width);
      }
    }
    if (partial_columns == 0) continue;
    for (size_t row = row_start; row < row_end; ++row) {
      direction.partial(row * job.row_stride + whole_panels * width,
                        whole_panels * panel_elements + row * width, 1, partial_columns);
    }
  }
}

template <typename Word, typename Panel, typename Direction>
ZUM_KERNEL void walk_column_panels(const PackJob& job, const Direction& direction) {
  constexpr size_t width = Panel::columns;
  constexpr size_t group_panels = panels_side_by_side<Word, width>(Direction::writes_matrix);
  const size_t rows = job.rows;
  const size_t row_stride = job.row_stride;
  const size_t panel_elements = rows * width;
  const size_t whole_panels = job.columns / width;
  const auto matrix_element = [&](size_t panel, size_t row) {
    return row * row_stride + panel * width;
  };
  const auto buffer_element = [&](size_t panel, size_t row) {
    return panel * panel_elements + row * width;
  };

  if constexpr (Direction::writes_matrix) {
    if (rows * row_stride * sizeof(Word) > small_matrix_bytes) {
      unpack_row_blocks<Word, Panel>(job, direction);
      return;
    }
  }
  size_t panel = 0;
  for (; panel + group_panels <= whole_panels; panel += group_panels) {
    for (size_t row = 0; row < rows; ++row) {
      for (size_t member = panel; member < panel + group_panels; ++member) {
        direction.whole(matrix_element(member, row), buffer_element(member, row));
      }
    }
  }
  for (; panel < whole_panels; ++panel) {
    for (size_t row = 0; row < rows; ++row) {
      direction.whole(matrix_element(panel, row), buffer_element(panel, row));
    }
  }
  const size_t partial_columns = job.columns - whole_panels * width;
  if (partial_columns == 0) return;
  for (size_t row = 0; row < rows; ++row) {
    direction.partial(matrix_element(panel, row), buffer_element(panel, row), 1, partial_columns);
  }
}

// Family B: panels of `height` rows × 16 columns, down the row groups first, then across the
// 16-column groups.
template <typename Word, typename Panel, typename Direction>
ZUM_KERNEL void walk_row_group_panels(const PackJob& job, const Direction& direction) {
  constexpr size_t height = Panel::rows;
  constexpr size_t width = Panel::columns;
  constexpr size_t panel_elements = height * width;
  const size_t row_stride = job.row_stride;
  const size_t row_groups = job.padded_rows / height;
  const size_t column_groups = job.padded_columns / width;
  const size_t whole_row_groups = job.rows / height;
  const size_t whole_column_groups = job.columns / width;
  const auto move_panel = [&](size_t row_group, size_t column_group)
      __attribute__((always_inline)) {
    const size_t row = row_group * height;
    const size_t column = column_group * width;
    const size_t matrix_element = row * row_stride + column;
    const size_t buffer_element = (column_group * row_groups + row_group) * panel_elements;
    if (row_group < whole_row_groups && column_group < whole_column_groups) {
      direction.whole(matrix_element, buffer_element);
    } else {
      direction.partial(matrix_element, buffer_element, std::min(height, job.rows - row),
                        std::min(width, job.columns - column));
    }
  };

  if constexpr (Direction::writes_matrix) {
    for (size_t row_group = 0; row_group < row_groups; ++row_group) {
      for (size_t column_group = 0; column_group < column_groups; ++column_group) {
        move_panel(row_group, column_group);
      }
    }
  } else {
    for (size_t column_group = 0; column_group < column_groups; ++column_group) {
      for (size_t row_group = 0; row_group < row_groups; ++row_group) {
        move_panel(row_group, column_group);
      }
    }
  }
}

template <typename Word, typename Panel, typename Direction>
ZUM_KERNEL void walk(const PackJob& job, const Direction& direction) {
  if constexpr (Panel::rows == 1) {
    walk_column_panels<Word, Panel>(job, direction);
  } else {
    walk_row_group_panels<Word, Panel>(job, direction);
  }
}

// The job is copied so the compiler knows no store into the buffer or the matrix changes it.
template <typename Word, BlockLayout layout, size_t vector_bytes>
ZUM_KERNEL void pack_layout(const PackJob job, const std::byte* matrix, std::byte* buffer) {
  using Panel = PanelKernel<Word, layout, vector_bytes>;
  walk<Word, Panel>(job, Packing<Word, Panel>{matrix, buffer, job.row_stride});
}

template <typename Word, BlockLayout layout, size_t vector_bytes>
ZUM_KERNEL void unpack_layout(const PackJob job, const std::byte* buffer, std::byte* matrix) {
  using Panel = PanelKernel<Word, layout, vector_bytes>;
  walk<Word, Panel>(job, Unpacking<Word, Panel, vector_bytes>{buffer, matrix, job.row_stride});
}

// The entry points of each path: the same walks, compiled for that path's instruction set and
// shaped to its registers' width.
struct Portable {
  static constexpr size_t vector_bytes = 16;
  template <typename Word, BlockLayout layout>
  static void pack(const PackJob& job, const std::byte* matrix, std::byte* buffer) {
    pack_layout<Word, layout, vector_bytes>(job, matrix, buffer);
  }
  template <typename Word, BlockLayout layout>
  static void unpack(const PackJob& job, const std::byte* buffer, std::byte* matrix) {
    unpack_layout<Word, layout, vector_bytes>(job, buffer, matrix);
  }
};

struct Avx2 {
  static constexpr size_t vector_bytes = 32;
  template <typename Word, BlockLayout layout>
  [[gnu::target("avx2")]] static void pack(const PackJob& job, const std::byte* matrix,
                                           std::byte* buffer) {
    pack_layout<Word, layout, vector_bytes>(job, matrix, buffer);
  }
  template <typename Word, BlockLayout layout>
  [[gnu::target("avx2")]] static void unpack(const PackJob& job, const std::byte* buffer,
                                             std::byte* matrix) {
    unpack_layout<Word, layout, vector_bytes>(job, buffer, matrix);
  }
};

#define ZUM_AVX512 "avx512f,avx512bw,avx512vl,avx512dq"
struct Avx512 {
  static constexpr size_t vector_bytes = 64;
  template <typename Word, BlockLayout layout>
  [[gnu::target(ZUM_AVX512)]] static void pack(const PackJob& job, const std::byte* matrix,
                                               std::byte* buffer) {
    pack_layout<Word, layout, vector_bytes>(job, matrix, buffer);
  }
  template <typename Word, BlockLayout layout>
  [[gnu::target(ZUM_AVX512)]] static void unpack(const PackJob& job, const std::byte* buffer,
                                                 std::byte* matrix) {
    unpack_layout<Word, layout, vector_bytes>(job, buffer, matrix);
  }
};

using PackEntry = void (*)(const PackJob&, const std::byte*, std::byte*);

// The layout whose kernels a layout value runs: the two family C variants share theirs.
constexpr BlockLayout kernel_layout(BlockLayout layout) {
  return panel_shape(layout).family == 'C' ? BlockLayout::KivC16 : layout;
}

// The path whose kernels a path runs for a layout. Family B's transposes measured faster
// compiled for AVX2 than for AVX-512 on an AVX-512 processor (g++ 12, every element width the
// benchmarks cover), so the AVX-512 path takes them from the AVX2 path.
template <typename Path, BlockLayout layout>
using KernelPath =
    std::conditional_t<std::is_same_v<Path, Avx512> && panel_shape(layout).family == 'B', Avx2,
                       Path>;

// One entry per layout value, for each element width.
template <typename Path, typename Word, size_t... layout>
constexpr std::array<PackEntry, 8> pack_entries(std::index_sequence<layout...>) {
  return {&KernelPath<Path, all_block_layouts[layout]>::template pack<
      Word, kernel_layout(all_block_layouts[layout])>...};
}

template <typename Path, typename Word, size_t... layout>
constexpr std::array<PackEntry, 8> unpack_entries(std::index_sequence<layout...>) {
  return {&KernelPath<Path, all_block_layouts[layout]>::template unpack<
      Word, kernel_layout(all_block_layouts[layout])>...};
}

struct PathEntries {
  std::array<std::array<PackEntry, 8>, 4> pack;  // by log2 of the element width, then layout
  std::array<std::array<PackEntry, 8>, 4> unpack;
};

template <typename Path>
constexpr PathEntries path_entries() {
  constexpr auto layouts = std::make_index_sequence<8>{};
  return {
      {pack_entries<Path, std::uint8_t>(layouts), pack_entries<Path, std::uint16_t>(layouts),
       pack_entries<Path, std::uint32_t>(layouts), pack_entries<Path, std::uint64_t>(layouts)},
      {unpack_entries<Path, std::uint8_t>(layouts), unpack_entries<Path, std::uint16_t>(layouts),
       unpack_entries<Path, std::uint32_t>(layouts), unpack_entries<Path, std::uint64_t>(layouts)}};
}

constexpr std::array<PathEntries, 3> entries_by_path{path_entries<Portable>(), path_entries<Avx2>(),
                                                     path_entries<Avx512>()};

size_t width_index(size_t element_bytes) {
  return static_cast<size_t>(std::countr_zero(element_bytes));
}

const PathEntries& entries_of(SimdPath path) {
  return entries_by_path[static_cast<size_t>(path)];
}

bool processor_runs(SimdPath path) {
  __builtin_cpu_init();
  switch (path) {
    case SimdPath::portable:
      return true;
    case SimdPath::avx2:
      return __builtin_cpu_supports("avx2");
    case SimdPath::avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq");
  }
  return false;
}

}  // namespace

std::string_view simd_path_name(SimdPath path) {
  constexpr std::array<std::string_view, 3> names{"portable", "avx2", "avx512"};
  return names.at(static_cast<size_t>(path));
}

std::span<const SimdPath> runnable_simd_paths() {
  static const std::vector<SimdPath> paths = [] {
    std::vector<SimdPath> runnable;
    for (SimdPath path : {SimdPath::portable, SimdPath::avx2, SimdPath::avx512}) {
      if (processor_runs(path)) runnable.push_back(path);
    }
    return runnable;
  }();
  return paths;
}

void pack(SimdPath path, const PackJob& job, const std::byte* matrix, std::byte* buffer) {
  const auto layout = static_cast<size_t>(job.layout);
  entries_of(path).pack[width_index(job.element_bytes)][layout](job, matrix, buffer);
}

void unpack(SimdPath path, const PackJob& job, const std::byte* buffer, std::byte* matrix) {
  const auto layout = static_cast<size_t>(job.layout);
  entries_of(path).unpack[width_index(job.element_bytes)][layout](job, buffer, matrix);
}

}  // namespace zum_runtime::blocked_data::kernels
