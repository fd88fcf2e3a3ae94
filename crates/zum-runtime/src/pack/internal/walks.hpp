#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "pack/internal/directions.hpp"
#include "pack/internal/kernels.hpp"

// The walks over a buffer's panels, one per family shape and direction. Each writes its
// destination in order (the buffer panel by panel, the matrix row by row) and hands every
// panel piece to the panel kernel. At the matrix's edge a piece is only partly inside the
// matrix: it goes through a zero-filled scratch piece, so the edge runs the same kernel as the
// interior, and only the part inside the matrix is read or written.
namespace zum_runtime::blocked_data::kernels {

// Families A and C: panels `width` columns wide spanning all rows, row-major inside.
//   buffer element of (row, column) = panel * rows * width + row * width + column % width
template <size_t width>
struct ColumnPanels {
  size_t rows;
  size_t row_stride;
  size_t whole_panels;
  size_t partial_columns;  // of the last panel, when the columns are not whole panels

  explicit ColumnPanels(const PackJob& job)
      : rows(job.rows),
        row_stride(job.row_stride),
        whole_panels(job.columns / width),
        partial_columns(job.columns % width) {}

  size_t matrix_element(size_t panel, size_t row) const { return row * row_stride + panel * width; }
  size_t buffer_element(size_t panel, size_t row) const { return (panel * rows + row) * width; }
};

// Rows `first_row` to `end_row` of the last panel, when the columns end partway into it.
template <typename Panel, typename Direction>
ZUM_KERNEL void move_partial_panel(const ColumnPanels<Panel::columns>& panels, size_t first_row,
                                   size_t end_row, const Direction& direction) {
  if (panels.partial_columns == 0) return;
  for (size_t row = first_row; row < end_row; ++row) {
    direction.partial(panels.matrix_element(panels.whole_panels, row),
                      panels.buffer_element(panels.whole_panels, row), 1, panels.partial_columns);
  }
}

// Packing reads `group` panels side by side, two cache lines of each matrix row, so a
// power-of-two stride that maps the rows onto few cache sets costs nothing; it moves four rows
// of a panel at a time, and narrow panels store two rows as one full register.
template <typename Word, typename Panel, size_t vector_bytes>
ZUM_KERNEL void pack_column_panels(const PackJob& job, const std::byte* matrix, std::byte* buffer) {
  constexpr size_t panel_row_bytes = Panel::columns * sizeof(Word);
  constexpr size_t group = std::max<size_t>(1, 2 * cache_line_bytes / panel_row_bytes);
  const ColumnPanels<Panel::columns> panels(job);
  const Packing<Word, Panel, vector_bytes> packing{matrix, buffer, job.row_stride};
  for (size_t panel = 0; panel < panels.whole_panels; panel += group) {
    const size_t end_panel = std::min(panel + group, panels.whole_panels);
    constexpr size_t batch = 4;
    size_t row = 0;
    for (; row + batch <= panels.rows; row += batch) {
      for (size_t member = panel; member < end_panel; ++member) {
        packing.template rows<batch>(panels.matrix_element(member, row),
                                     panels.buffer_element(member, row));
      }
    }
    for (; row < panels.rows; ++row) {
      for (size_t member = panel; member < end_panel; ++member) {
        packing.whole(panels.matrix_element(member, row), panels.buffer_element(member, row));
      }
    }
  }
  move_partial_panel<Panel>(panels, 0, panels.rows, packing);
}

// A large matrix is unpacked a block of rows at a time across all panels, so its rows stay in
// the first-level cache until they are whole. (With the block's reads before its writes, this
// took 16-bit KivA8 at 256 × 256 from 0.3 to 0.65 × memcpy.)
template <typename Word, typename Panel, typename Direction>
ZUM_KERNEL void unpack_row_blocks(const ColumnPanels<Panel::columns>& panels,
                                  const Direction& direction) {
  constexpr size_t width = Panel::columns;
  constexpr size_t block_rows = std::max<size_t>(8, 4 * cache_line_bytes / (width * sizeof(Word)));
  for (size_t row_start = 0; row_start < panels.rows; row_start += block_rows) {
    const size_t row_count = std::min(panels.rows - row_start, block_rows);
    for (size_t panel = 0; panel < panels.whole_panels; ++panel) {
      const size_t matrix_element = panels.matrix_element(panel, row_start);
      const size_t buffer_element = panels.buffer_element(panel, row_start);
      if (row_count == block_rows) {
        direction.template whole_rows<block_rows>(matrix_element, buffer_element);
        continue;
      }
      for (size_t row = 0; row < row_count; ++row) {
        direction.whole(matrix_element + row * panels.row_stride, buffer_element + row * width);
      }
    }
    move_partial_panel<Panel>(panels, row_start, row_start + row_count, direction);
  }
}

// A matrix this small stays in the first-level cache whatever order it is written in (row
// blocks measured 0.68 against 0.94 × memcpy for 64 × 64 float KivA8). Pairs of panels are
// written side by side, a row of each in one store where two fit a register.
inline constexpr size_t small_matrix_bytes = 16 * 1024;

template <typename Word, typename Panel, size_t vector_bytes>
ZUM_KERNEL void unpack_column_panels(const PackJob& job, const std::byte* buffer,
                                     std::byte* matrix) {
  const ColumnPanels<Panel::columns> panels(job);
  const Unpacking<Word, Panel, vector_bytes> unpacking{buffer, matrix, job.row_stride};
  if (size_t{job.rows} * job.row_stride * sizeof(Word) > small_matrix_bytes) {
    unpack_row_blocks<Word, Panel>(panels, unpacking);
    return;
  }
  size_t panel = 0;
  if constexpr (Panel::columns * sizeof(Word) <= cache_line_bytes) {
    constexpr size_t batch = 4;
    for (; panel + 2 <= panels.whole_panels; panel += 2) {
      size_t row = 0;
      for (; row + batch <= panels.rows; row += batch) {
        unpacking.template two_panels<batch>(panels.matrix_element(panel, row),
                                             panels.buffer_element(panel, row),
                                             panels.buffer_element(panel + 1, row));
      }
      for (; row < panels.rows; ++row) {
        unpacking.template two_panels<1>(panels.matrix_element(panel, row),
                                         panels.buffer_element(panel, row),
                                         panels.buffer_element(panel + 1, row));
      }
    }
  }
  for (; panel < panels.whole_panels; ++panel) {
    for (size_t row = 0; row < panels.rows; ++row) {
      unpacking.whole(panels.matrix_element(panel, row), panels.buffer_element(panel, row));
    }
  }
  move_partial_panel<Panel>(panels, 0, panels.rows, unpacking);
}

// Family B: panels of `height` rows × 16 columns, down the row groups first, then across the
// 16-column groups.
//   buffer element of panel (row_group, column_group) = (column_group * row_groups + row_group)
//                                                       * height * 16
template <typename Panel, typename Direction>
ZUM_KERNEL void move_row_group_panel(const PackJob& job, size_t row_group, size_t column_group,
                                     const Direction& direction) {
  constexpr size_t height = Panel::rows;
  constexpr size_t width = Panel::columns;
  const size_t row = row_group * height;
  const size_t column = column_group * width;
  const size_t matrix_element = row * job.row_stride + column;
  const size_t row_groups = job.padded_rows / height;
  const size_t buffer_element = (column_group * row_groups + row_group) * height * width;
  if (row + height <= job.rows && column + width <= job.columns) {
    direction.whole(matrix_element, buffer_element);
  } else {
    direction.partial(matrix_element, buffer_element, std::min(height, job.rows - row),
                      std::min(width, job.columns - column));
  }
}

// Packing writes the buffer in order: down each column group's row groups.
template <typename Word, typename Panel>
ZUM_KERNEL void pack_row_group_panels(const PackJob& job, const std::byte* matrix,
                                      std::byte* buffer) {
  const Packing<Word, Panel, 0> packing{matrix, buffer, job.row_stride};
  for (size_t column_group = 0; column_group < job.padded_columns / Panel::columns;
       ++column_group) {
    for (size_t row_group = 0; row_group < job.padded_rows / Panel::rows; ++row_group) {
      move_row_group_panel<Panel>(job, row_group, column_group, packing);
    }
  }
}

// Unpacking writes the matrix in order: across each row group's column groups.
template <typename Word, typename Panel, size_t vector_bytes>
ZUM_KERNEL void unpack_row_group_panels(const PackJob& job, const std::byte* buffer,
                                        std::byte* matrix) {
  const Unpacking<Word, Panel, vector_bytes> unpacking{buffer, matrix, job.row_stride};
  for (size_t row_group = 0; row_group < job.padded_rows / Panel::rows; ++row_group) {
    for (size_t column_group = 0; column_group < job.padded_columns / Panel::columns;
         ++column_group) {
      move_row_group_panel<Panel>(job, row_group, column_group, unpacking);
    }
  }
}

}  // namespace zum_runtime::blocked_data::kernels
