// Assembling the pieces of a page region into bands: which pieces a line range holds, and in
// which order they are read.
#include "quorl/pdf/bands.hpp"

#include <algorithm>
#include <cmath>

namespace quorl::pdf {

bool band_holds(const Extent& piece, const Extent& range) {
  const double piece_height = piece.bottom - piece.top;
  const double range_height = range.bottom - range.top;
  if (piece_height == 0 || range_height == 0) {
    return range.top <= piece.top && piece.bottom <= range.bottom;
  }
  // Evaluated left to right on purpose: divided by the piece's height, then multiplied by the
  // range's, which is not the test that builds the ranges.
  return (piece.top - range.top) * (piece.bottom - range.bottom) / piece_height * range_height <
         0.5;
}

std::vector<std::vector<std::size_t>> assemble_bands(const std::vector<Piece>& pieces,
                                                     const std::vector<Extent>& ranges) {
  std::vector<std::vector<std::size_t>> bands;
  bands.reserve(ranges.size());
  for (const Extent& range : ranges) {
    std::vector<std::size_t> members;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (band_holds(pieces[i].extent, range)) members.push_back(i);
    }
    // A NaN x0 never compares, which would break the sort's ordering; such pieces go last.
    std::stable_sort(members.begin(), members.end(), [&](std::size_t a, std::size_t b) {
      const double la = pieces[a].left, lb = pieces[b].left;
      if (std::isnan(la) || std::isnan(lb)) return !std::isnan(la) && std::isnan(lb);
      return la < lb;
    });
    bands.push_back(std::move(members));
  }
  return bands;
}

}  // namespace quorl::pdf
