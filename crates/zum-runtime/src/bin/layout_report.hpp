#pragma once

#include <string>

#include "layout_model.hpp"

// What zum-layout says about a shape in words: how pack stores it, what the raw mapping does
// with it, and the packed buffer entry by entry.
namespace zum_layout {

struct Report {
  std::string text;
  bool whole_or_packable;  // exit status 0 when true, 1 otherwise
};

// Whole, or packed with padding (padded shape, buffer elements, padding and overhead), or
// refused with the library's own reason.
Report packing_report(const Shape& shape);

// Whether positions 0 to rows × columns − 1 reach every cell once, and if not why not.
Report raw_mapping_report(const Shape& shape);

// The packed buffer in storage order, one line per panel, each entry the (row, column) it holds
// or "pad".
std::string storage_listing(const Shape& shape);

}  // namespace zum_layout
