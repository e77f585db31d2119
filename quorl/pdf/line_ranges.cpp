// Horizontal bands of a page: grouping text pieces into line ranges by their vertical overlap.
#include "quorl/pdf/line_ranges.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace quorl::pdf {

namespace {

bool within(const Extent& piece, const Extent& range) {
  return range.top <= piece.top && piece.bottom <= range.bottom;
}

// Python's math.floor / math.ceil followed by a division of the integer by 10.
double tenths(double v, double (*to_integer)(double)) {
  const double scaled = v * 10;
  if (std::isnan(scaled)) throw std::domain_error("cannot convert float NaN to integer");
  if (std::isinf(scaled)) throw std::overflow_error("cannot convert float infinity to integer");
  // Python's integers have no negative zero: ceil(-0.4) is 0, and 0 / 10 is 0.0.
  return to_integer(scaled) / 10 + 0.0;
}

double floor_of(double v) {
  return std::floor(v);
}
double ceil_of(double v) {
  return std::ceil(v);
}

}  // namespace

bool widens_range(const Extent& piece, const Extent& range) {
  const double piece_height = piece.bottom - piece.top;
  const double range_height = range.bottom - range.top;
  const double denominator = piece_height * range_height;
  // Flat pieces and flat ranges exist in real PDFs; the ratio means nothing for them.
  if (piece_height == 0 || range_height == 0 || denominator == 0) return within(piece, range);
  return (piece.top - range.top) * (piece.bottom - range.bottom) / denominator < 0.5;
}

std::vector<Extent> merge_ranges(const std::vector<Extent>& pieces) {
  std::vector<Extent> ranges;
  for (const Extent& piece : pieces) {
    auto found = std::find_if(ranges.begin(), ranges.end(),
                              [&](const Extent& r) { return widens_range(piece, r); });
    if (found == ranges.end()) {
      ranges.push_back(piece);
    } else {
      // Python's min(y0, r[0]) and max(y1, r[1]): the piece's bound unless the range's beats it.
      found->top = found->top < piece.top ? found->top : piece.top;
      found->bottom = found->bottom > piece.bottom ? found->bottom : piece.bottom;
    }
  }
  return ranges;
}

Extent round_outwards(const Extent& range) {
  return {tenths(range.top, floor_of), tenths(range.bottom, ceil_of)};
}

std::vector<Extent> line_ranges(const std::vector<Extent>& pieces) {
  std::vector<Extent> ranges = merge_ranges(pieces);
  for (Extent& r : ranges) r = round_outwards(r);
  std::sort(ranges.begin(), ranges.end(), [](const Extent& a, const Extent& b) {
    return a.top < b.top || (a.top == b.top && a.bottom < b.bottom);
  });
  return ranges;
}

}  // namespace quorl::pdf
