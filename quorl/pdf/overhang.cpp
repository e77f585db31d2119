// Which page region reads a text line that runs past the edges of every region of its page.
#include "quorl/pdf/overhang.hpp"

#include <algorithm>

namespace quorl::pdf {

namespace {

// The part of [low, high] inside [from, to]; nothing of a span turned round or holding a NaN. A
// point has no length: it is wholly inside or not.
double share_of_span(double low, double high, double from, double to) {
  if (!(low <= high) || !(from <= to)) return 0.0;
  if (low == high) return from <= low && low <= to ? 1.0 : 0.0;
  const double overlap = std::min(high, to) - std::max(low, from);
  return overlap > 0 ? overlap / (high - low) : 0.0;
}

}  // namespace

double share_inside(const Box& piece, const Box& region) {
  return share_of_span(piece.x0, piece.x1, region.x0, region.x1) *
         share_of_span(piece.y0, piece.y1, region.y0, region.y1);
}

std::optional<std::size_t> region_of_overhanging_piece(const Box& piece,
                                                       const std::vector<Box>& regions) {
  std::optional<std::size_t> best;
  double best_share = 0.5;
  for (std::size_t i = 0; i < regions.size(); ++i) {
    if (contains(regions[i], piece)) return std::nullopt;
    const double share = share_inside(piece, regions[i]);
    if (share > best_share) {
      best = i;
      best_share = share;
    }
  }
  return best;
}

}  // namespace quorl::pdf
