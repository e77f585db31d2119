// Which characters of a page an annotation selects, as PDF readers select text: a character
// belongs to a text markup quadrilateral when the centre of its box lies inside it. Results are
// stretches of the whole PDF text, whose offsets leave newlines and hidden characters out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "quorl/pdf/box.hpp"

namespace quorl::pdf {

struct Point {
  double x = 0, y = 0;
};

// Four corners as a PDF QuadPoints entry lists them. Writers disagree on the order (upper left,
// upper right, lower left, lower right is common; the PDF reference says counter-clockwise), so
// the quadrilateral is taken as the convex hull of its corners, which is the same either way.
struct Quad {
  Point corners[4];
};

// Inside or on the boundary of the quad's convex hull.
bool quad_holds(const Quad& quad, const Point& point);

// One character of a line and the box it is drawn in.
struct SelectableGlyph {
  char32_t code_point = 0;
  Box box;
};

// A line of the whole text: its characters in text order, and `offset`, where its first shown
// character stands in the whole text.
struct SelectableLine {
  std::int64_t offset = 0;
  std::vector<SelectableGlyph> glyphs;
};

// A half-open stretch of the whole text.
struct Stretch {
  std::int64_t start = 0, end = 0;
};

// The shown characters (code points not in `hidden`) whose box centre lies in any of the quads,
// as ascending maximal stretches of consecutive offsets. A character that two lines share counts
// once.
std::vector<Stretch> stretches_under_quads(const std::vector<SelectableLine>& lines,
                                           const std::vector<Quad>& quads,
                                           std::u32string_view hidden);

// The shown characters whose box holds `point` (edges included), as stretches.
std::vector<Stretch> stretches_at_point(const std::vector<SelectableLine>& lines,
                                        const Point& point, std::u32string_view hidden);

// How many characters of `lines` a page does not show: a character is on the page when the page
// has a glyph of the same code point whose box has the same top and bottom within `tolerance`
// points and holds it across, within `tolerance` (a line parts a box from a neighbour's that
// overlaps it), or an image whose box lies within `tolerance` points of its box on every edge
// (a line reads an image as characters that all carry the image's box).
std::size_t glyphs_not_on_page(const std::vector<SelectableLine>& lines,
                               const std::vector<SelectableGlyph>& page_glyphs,
                               const std::vector<Box>& page_images, double tolerance);

}  // namespace quorl::pdf
