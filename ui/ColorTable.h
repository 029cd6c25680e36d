// The table of colours made for a picture when it has more than its new
// format holds.
#pragma once

#include "ui/ColorReduction.h"

#include <cstdint>
#include <vector>

namespace ui {

// Up to n colours (n at most 256) for the picture's pixels.
std::vector<uint32_t> AdaptiveTable(TPixelRows pixels, int width, int height, int n);

}  // namespace ui
