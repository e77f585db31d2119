// Horizontal bands of a page: grouping text pieces into line ranges by their vertical overlap.
#pragma once

#include <vector>

namespace quorl::pdf {

// The vertical extent of a piece (top y0, bottom y1) or of a band.
struct Extent {
  double top = 0, bottom = 0;
};

// Whether a piece widens an existing range when ranges are built: the product of the offsets of
// the two tops and of the two bottoms, over the product of the two heights, is below one half.
// When either height is zero the piece widens the range exactly when it lies within it.
bool widens_range(const Extent& piece, const Extent& range);

// The ranges of the pieces, in input order: each piece widens the first range it qualifies for,
// else starts a new one. Ranges are never merged with each other.
std::vector<Extent> merge_ranges(const std::vector<Extent>& pieces);

// Rounds a range outwards to tenths of a point. Throws std::overflow_error for an infinite bound
// and std::domain_error for a NaN one, as Python's math.floor and math.ceil do.
Extent round_outwards(const Extent& range);

// merge_ranges, rounded outwards, sorted by top and then bottom.
std::vector<Extent> line_ranges(const std::vector<Extent>& pieces);

}  // namespace quorl::pdf
