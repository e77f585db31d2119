// Which characters of a page an annotation selects, and whether a page shows a line's characters.
#include "quorl/pdf/glyph_selection.hpp"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace quorl::pdf {

namespace {

double cross(const Point& o, const Point& a, const Point& b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// Inside or on the edges of the triangle abc, whichever way round it runs.
bool triangle_holds(const Point& a, const Point& b, const Point& c, const Point& p) {
  const double d1 = cross(a, b, p), d2 = cross(b, c, p), d3 = cross(c, a, p);
  const bool negative = d1 < 0 || d2 < 0 || d3 < 0;
  const bool positive = d1 > 0 || d2 > 0 || d3 > 0;
  return !(negative && positive);
}

Point centre_of(const Box& box) {
  return {(box.x0 + box.x1) / 2, (box.y0 + box.y1) / 2};
}

bool box_holds(const Box& box, const Point& p) {
  return box.x0 <= p.x && p.x <= box.x1 && box.y0 <= p.y && p.y <= box.y1;
}

// The quads with their bounding boxes, which rule most characters out at little cost.
struct BoundedQuad {
  Quad quad;
  Box bounds;
};

BoundedQuad bounded(const Quad& quad) {
  Box b{quad.corners[0].x, quad.corners[0].y, quad.corners[0].x, quad.corners[0].y};
  for (const Point& p : quad.corners) {
    b.x0 = std::min(b.x0, p.x);
    b.y0 = std::min(b.y0, p.y);
    b.x1 = std::max(b.x1, p.x);
    b.y1 = std::max(b.y1, p.y);
  }
  return {quad, b};
}

// Ascending maximal runs of consecutive offsets.
std::vector<Stretch> runs_of(std::vector<std::int64_t> offsets) {
  std::sort(offsets.begin(), offsets.end());
  offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
  std::vector<Stretch> runs;
  for (std::int64_t offset : offsets) {
    if (!runs.empty() && runs.back().end == offset) {
      runs.back().end = offset + 1;
    } else {
      runs.push_back({offset, offset + 1});
    }
  }
  return runs;
}

// The offsets of the shown characters for which `selected(glyph)` holds.
template <typename Selected>
std::vector<Stretch> select(const std::vector<SelectableLine>& lines, std::u32string_view hidden,
                            Selected selected) {
  std::vector<std::int64_t> offsets;
  for (const SelectableLine& line : lines) {
    std::int64_t shown = 0;
    for (const SelectableGlyph& glyph : line.glyphs) {
      if (hidden.find(glyph.code_point) != std::u32string_view::npos) continue;
      if (selected(glyph)) offsets.push_back(line.offset + shown);
      ++shown;
    }
  }
  return runs_of(std::move(offsets));
}

bool near(const Box& a, const Box& b, double tolerance) {
  return std::fabs(a.x0 - b.x0) <= tolerance && std::fabs(a.y0 - b.y0) <= tolerance &&
         std::fabs(a.x1 - b.x1) <= tolerance && std::fabs(a.y1 - b.y1) <= tolerance;
}

// A line's glyph box against the page's: the same top and bottom, and across within the page's,
// which the line may have parted from a neighbour's on either side.
bool within(const Box& page, const Box& line, double tolerance) {
  return std::fabs(page.y0 - line.y0) <= tolerance && std::fabs(page.y1 - line.y1) <= tolerance &&
         page.x0 - tolerance <= line.x0 && line.x1 <= page.x1 + tolerance;
}

}  // namespace

bool quad_holds(const Quad& quad, const Point& point) {
  const Point* c = quad.corners;
  // Four points' convex hull is the union of the four triangles their triples make.
  return triangle_holds(c[0], c[1], c[2], point) || triangle_holds(c[0], c[1], c[3], point) ||
         triangle_holds(c[0], c[2], c[3], point) || triangle_holds(c[1], c[2], c[3], point);
}

std::vector<Stretch> stretches_under_quads(const std::vector<SelectableLine>& lines,
                                           const std::vector<Quad>& quads,
                                           std::u32string_view hidden) {
  std::vector<BoundedQuad> bounded_quads;
  bounded_quads.reserve(quads.size());
  for (const Quad& quad : quads) bounded_quads.push_back(bounded(quad));
  return select(lines, hidden, [&](const SelectableGlyph& glyph) {
    const Point centre = centre_of(glyph.box);
    for (const BoundedQuad& q : bounded_quads) {
      if (box_holds(q.bounds, centre) && quad_holds(q.quad, centre)) return true;
    }
    return false;
  });
}

std::vector<Stretch> stretches_at_point(const std::vector<SelectableLine>& lines,
                                        const Point& point, std::u32string_view hidden) {
  return select(lines, hidden,
                [&](const SelectableGlyph& glyph) { return box_holds(glyph.box, point); });
}

std::size_t glyphs_not_on_page(const std::vector<SelectableLine>& lines,
                               const std::vector<SelectableGlyph>& page_glyphs,
                               const std::vector<Box>& page_images, double tolerance) {
  auto key = [](const SelectableGlyph& g) { return std::make_tuple(g.code_point, g.box.y0); };
  std::vector<SelectableGlyph> sorted = page_glyphs;
  std::sort(sorted.begin(), sorted.end(),
            [&](const SelectableGlyph& a, const SelectableGlyph& b) { return key(a) < key(b); });
  auto on_page = [&](const SelectableGlyph& glyph) {
    SelectableGlyph lowest = glyph;
    lowest.box.y0 -= tolerance;
    auto it = std::lower_bound(
        sorted.begin(), sorted.end(), lowest,
        [&](const SelectableGlyph& a, const SelectableGlyph& b) { return key(a) < key(b); });
    for (; it != sorted.end() && it->code_point == glyph.code_point &&
           it->box.y0 <= glyph.box.y0 + tolerance;
         ++it) {
      if (within(it->box, glyph.box, tolerance)) return true;
    }
    return std::any_of(page_images.begin(), page_images.end(),
                       [&](const Box& image) { return near(image, glyph.box, tolerance); });
  };
  std::size_t missing = 0;
  for (const SelectableLine& line : lines) {
    for (const SelectableGlyph& glyph : line.glyphs) {
      if (!on_page(glyph)) ++missing;
    }
  }
  return missing;
}

}  // namespace quorl::pdf
