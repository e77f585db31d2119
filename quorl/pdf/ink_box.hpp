// Where the ink is in a part of a page image: the exact ends of a line of text that OCR placed
// only roughly.
#pragma once

#include <optional>

#include "quorl/pdf/raster.hpp"

namespace quorl::pdf {

// A box of pixels, x1 and y1 exclusive.
struct PixelBox {
  int x0 = 0;
  int y0 = 0;
  int x1 = 0;
  int y1 = 0;
};

struct InkOptions {
  int dark = 128;    // a pixel whose gray value is below this is ink
  int min_dark = 2;  // a column or row holds ink with this many dark pixels; a speck is noise
};

// The smallest box holding every column and row of `within` (clipped to the raster) that has
// at least min_dark dark pixels inside `within`; nullopt when none has. A raster_problem()
// raster throws std::invalid_argument.
std::optional<PixelBox> ink_box(const Raster& raster, PixelBox within,
                                const InkOptions& options = {});

}  // namespace quorl::pdf
