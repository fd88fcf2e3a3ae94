#pragma once

#include <string>

#include "layout_model.hpp"

namespace zum_layout {

// The picture as an SVG document: one square per cell, coloured by the panel whose position it
// shows, labelled with that position; padding cells are grey and labelled '·'.
std::string svg_document(const Picture& picture);

}  // namespace zum_layout
