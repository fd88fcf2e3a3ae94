#pragma once

#include <string>

#include "layout_model.hpp"

namespace zum_layout {

// The picture as text, CuTe-style: a title, then one line per grid row, each cell the position
// that holds it. '|' separates panels side by side, a dashed rule family B's row groups, a wider
// gap the stored column pairs; '.' marks a cell no position reaches, '·' a padding cell, and
// '‖' and a rule of '=' frame the matrix inside its padding.
std::string grid_text(const Picture& picture);

}  // namespace zum_layout
