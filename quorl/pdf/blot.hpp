// Whether a page image shows anything printed: a blank scan holds only paper, its grain and
// specks of dust, which OCR would read as characters.
#pragma once

#include "quorl/pdf/raster.hpp"

namespace quorl::pdf {

struct BlotOptions {
  int contrast = 60;  // ink is this much darker than the paper
  int min_blot = 4;   // pixels of ink joined (8-neighbours) that are more than a speck
};

// The gray value of the raster's paper: that of its brightest tenth of pixels (the 90th
// percentile), so that grey or yellowed paper is paper too.
int paper_level(const Raster& raster);

// Whether the raster holds min_blot or more ink pixels joined to one another, ink being darker
// than paper_level() - contrast. Stops at the first such blot, so a printed page costs little
// more than finding its first character. A raster_problem() raster throws std::invalid_argument.
bool has_blot(const Raster& raster, const BlotOptions& options = {});

}  // namespace quorl::pdf
