// Following dark strokes along the rows of a page image, for horizontal rules.
#include "quorl/pdf/rule_finder.hpp"

#include <algorithm>
#include <stdexcept>

namespace quorl::pdf {
namespace {

// The dark pixels of a raster, one byte per pixel, rows packed.
std::vector<std::uint8_t> dark_pixels(const Raster& r, int dark) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(r.width) * r.height);
  for (int y = 0; y < r.height; ++y) {
    std::uint8_t* to = out.data() + static_cast<std::size_t>(y) * r.width;
    for (int x = 0; x < r.width; ++x) to[x] = gray_at(r, x, y) < dark;
  }
  return out;
}

// A stroke followed from its left end, with the sums that place it.
struct Stroke {
  Rule rule;
  double row_sum = 0;
  double pixels = 0;
};

class Tracer {
 public:
  Tracer(const std::vector<std::uint8_t>& dark, int width, int height, const RuleOptions& o)
      : dark_(dark), seen_(dark.size()), width_(width), height_(height), options_(o) {}

  bool dark(int x, int y) const {
    return y >= 0 && y < height_ && dark_[static_cast<std::size_t>(y) * width_ + x];
  }
  bool seen(int x, int y) const { return seen_[static_cast<std::size_t>(y) * width_ + x]; }

  // Follows the stroke that starts at the dark pixel (x, y) rightwards: on its row while it
  // goes on there, else one row up or down once it has run min_run pixels on its row, across
  // gaps of up to max_gap light pixels.
  Stroke follow(int x, int y) {
    Stroke s;
    s.rule.x0 = x;
    s.rule.top = y;
    s.rule.bottom = y + 1;
    int last = x;  // the last dark pixel taken
    int run = 0;   // pixels since the last change of row
    for (int cx = x; cx < width_ && cx - last <= options_.max_gap + 1; ++cx) {
      int row = -1;
      if (dark(cx, y)) {
        row = y;
      } else if (run >= options_.min_run) {
        row = dark(cx, y - 1) ? y - 1 : dark(cx, y + 1) ? y + 1 : -1;
      }
      ++run;
      if (row < 0) continue;
      if (row != y) {
        y = row;
        run = 0;
        s.rule.top = std::min(s.rule.top, y);
        s.rule.bottom = std::max(s.rule.bottom, y + 1);
      }
      seen_[static_cast<std::size_t>(y) * width_ + cx] = 1;
      s.row_sum += y;
      s.pixels += 1;
      last = cx;
    }
    s.rule.x1 = last + 1;
    return s;
  }

 private:
  const std::vector<std::uint8_t>& dark_;
  std::vector<std::uint8_t> seen_;
  int width_, height_;
  RuleOptions options_;
};

// Whether two strokes are parts of one rule: rows that touch, and either half of the shorter
// one lying over the other (the rows of a thick rule) or the two following one another across
// a break of up to `join` pixels (a faint spot of a thin scanned rule).
bool one_rule(const Stroke& a, const Stroke& b, int join) {
  if (a.rule.top > b.rule.bottom || b.rule.top > a.rule.bottom) return false;
  int shorter = std::min(a.rule.x1 - a.rule.x0, b.rule.x1 - b.rule.x0);
  int common = std::min(a.rule.x1, b.rule.x1) - std::max(a.rule.x0, b.rule.x0);
  return 2 * common >= shorter || (common < 0 && -common <= join);
}

void absorb(Stroke& into, const Stroke& s) {
  into.rule.x0 = std::min(into.rule.x0, s.rule.x0);
  into.rule.x1 = std::max(into.rule.x1, s.rule.x1);
  into.rule.top = std::min(into.rule.top, s.rule.top);
  into.rule.bottom = std::max(into.rule.bottom, s.rule.bottom);
  into.row_sum += s.row_sum;
  into.pixels += s.pixels;
}

}  // namespace

std::vector<Rule> find_rules(const Raster& raster, const RuleOptions& options) {
  if (const char* problem = raster_problem(raster)) throw std::invalid_argument(problem);
  std::vector<std::uint8_t> dark = dark_pixels(raster, options.dark);
  Tracer tracer(dark, raster.width, raster.height, options);
  std::vector<Stroke> strokes;
  for (int y = 0; y < raster.height; ++y) {
    for (int x = 0; x < raster.width; ++x) {
      // Strokes start at the left end of a row's dark run that no stroke has crossed yet.
      if (!tracer.dark(x, y) || (x > 0 && tracer.dark(x - 1, y)) || tracer.seen(x, y)) continue;
      Stroke s = tracer.follow(x, y);
      // Parts of a rule broken by faint spots are kept for joining; a glyph's stroke is
      // shorter than a part.
      if (s.rule.x1 - s.rule.x0 >= std::max(1, options.min_length / 8)) strokes.push_back(s);
    }
  }
  std::sort(strokes.begin(), strokes.end(),
            [](const Stroke& a, const Stroke& b) { return a.rule.x0 < b.rule.x0; });
  const int join = 4 * (options.max_gap + 1);
  std::vector<Stroke> merged;
  for (const Stroke& s : strokes) {
    auto into = std::find_if(merged.begin(), merged.end(),
                             [&](const Stroke& m) { return one_rule(m, s, join); });
    if (into == merged.end()) {
      merged.push_back(s);
    } else {
      absorb(*into, s);
    }
  }
  std::vector<Rule> rules;
  for (Stroke& s : merged) {
    if (s.rule.x1 - s.rule.x0 < options.min_length) continue;
    s.rule.center = s.row_sum / s.pixels + 0.5;
    rules.push_back(s.rule);
  }
  std::sort(rules.begin(), rules.end(),
            [](const Rule& a, const Rule& b) { return a.center < b.center; });
  return rules;
}

}  // namespace quorl::pdf
