// Page rectangles as plain numbers: containment and the union PyMuPDF's `Rect | Rect` computes.
#pragma once

namespace quorl::pdf {

// x0, y0 top left, x1, y1 bottom right, in points, y downwards.
struct Box {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// `inner in outer` for two PyMuPDF rectangles: inner lies entirely inside outer, edges included.
bool contains(const Box& outer, const Box& inner);

// PyMuPDF calls a rectangle empty when it has no area, whichever way round its corners are.
bool is_empty(const Box& b);

// PyMuPDF's infinite rectangle, the one that contains everything.
bool is_infinite(const Box& b);
Box infinite_box();

// Folds rectangles left to right with PyMuPDF's `|`: empty rectangles are skipped, an infinite one
// makes the result infinite, and a genuine union is computed by MuPDF in single precision, so
// its coordinates are rounded to float. A coordinate beyond float range throws
// std::overflow_error, as PyMuPDF refuses it.
class BoxUnion {
 public:
  explicit BoxUnion(const Box& first) : box_(first) {}
  void include(const Box& b);
  const Box& box() const { return box_; }

 private:
  Box box_;
};

}  // namespace quorl::pdf
