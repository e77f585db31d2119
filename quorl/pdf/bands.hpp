// Assembling the pieces of a page region into bands: which pieces a line range holds, and in
// which order they are read.
#pragma once

#include <cstddef>
#include <vector>

#include "quorl/pdf/line_ranges.hpp"

namespace quorl::pdf {

// A text piece (a raw line of the extraction) or an image, as far as ordering reads it.
struct Piece {
  Extent extent;
  double left = 0;  // x0
};

// Whether a range holds a piece: the product of the offsets of the tops and of the bottoms,
// divided by the piece's height and then multiplied by the range's height, is below one half.
// When either height is zero the range holds the piece exactly when the piece lies within it.
bool band_holds(const Extent& piece, const Extent& range);

// For every range, in order, the indexes of the pieces it holds, left to right by x0; pieces with
// equal x0 keep their input order. A piece may sit in several bands or in none.
std::vector<std::vector<std::size_t>> assemble_bands(const std::vector<Piece>& pieces,
                                                     const std::vector<Extent>& ranges);

}  // namespace quorl::pdf
