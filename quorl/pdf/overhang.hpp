// Which page region reads a text line that runs past the edges of every region of its page.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "quorl/pdf/box.hpp"

namespace quorl::pdf {

// The share of `piece` that lies inside `region`, from 0 to 1: the part of its width inside the
// region's width times the part of its height inside the region's height. A flat or thin piece
// counts along its other side alone, as inside or outside where it stands. A piece or a region
// turned inside out (x0 > x1 or y0 > y1), or with a NaN coordinate, shares nothing.
double share_inside(const Box& piece, const Box& region);

// The region of `regions` that reads a piece lying inside none of them: the one holding the
// largest share of it, provided that share is more than half; on a tie the first of them.
// nullopt when some region holds the whole piece (each region holding it reads it, whatever
// else) and when no region holds most of it: a running header, a footer or a page number that
// only touches the text area stays out.
std::optional<std::size_t> region_of_overhanging_piece(const Box& piece,
                                                       const std::vector<Box>& regions);

}  // namespace quorl::pdf
