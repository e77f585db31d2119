// Page rectangles as plain numbers: containment and the union PyMuPDF's `Rect | Rect` computes.
#include "quorl/pdf/box.hpp"

#include <cfloat>
#include <cmath>
#include <stdexcept>
#include <string>

namespace quorl::pdf {

namespace {

constexpr double kMinInf = -2147483648.0;  // MuPDF's FZ_MIN_INF_RECT
constexpr double kMaxInf = 2147483520.0;   // MuPDF's FZ_MAX_INF_RECT

struct FloatBox {
  float x0, y0, x1, y1;
};

float to_float(double v, int argument) {
  if (std::isfinite(v) && (v < -FLT_MAX || v > FLT_MAX)) {
    throw std::overflow_error("in method 'fz_make_rect', argument " + std::to_string(argument) +
                              " of type 'float'");
  }
  return static_cast<float>(v);
}

FloatBox to_float_box(const Box& b) {
  return {to_float(b.x0, 1), to_float(b.y0, 2), to_float(b.x1, 3), to_float(b.y1, 4)};
}

bool is_valid(const FloatBox& b) {
  return b.x0 <= b.x1 && b.y0 <= b.y1;
}

bool is_infinite(const FloatBox& b) {
  return b.x0 == static_cast<float>(kMinInf) && b.y0 == static_cast<float>(kMinInf) &&
         b.x1 == static_cast<float>(kMaxInf) && b.y1 == static_cast<float>(kMaxInf);
}

// MuPDF's fz_union_rect, on the single-precision rectangles PyMuPDF hands it.
FloatBox mupdf_union(FloatBox a, const FloatBox& b) {
  if (!is_valid(b)) return a;
  if (!is_valid(a)) return b;
  if (is_infinite(a)) return a;
  if (is_infinite(b)) return b;
  if (a.x0 > b.x0) a.x0 = b.x0;
  if (a.y0 > b.y0) a.y0 = b.y0;
  if (a.x1 < b.x1) a.x1 = b.x1;
  if (a.y1 < b.y1) a.y1 = b.y1;
  return a;
}

}  // namespace

bool contains(const Box& outer, const Box& inner) {
  return outer.x0 <= inner.x0 && inner.x0 <= inner.x1 && inner.x1 <= outer.x1 &&
         outer.y0 <= inner.y0 && inner.y0 <= inner.y1 && inner.y1 <= outer.y1;
}

bool is_empty(const Box& b) {
  return b.x0 >= b.x1 || b.y0 >= b.y1;
}

bool is_infinite(const Box& b) {
  return b.x0 == kMinInf && b.y0 == kMinInf && b.x1 == kMaxInf && b.y1 == kMaxInf;
}

Box infinite_box() {
  return {kMinInf, kMinInf, kMaxInf, kMaxInf};
}

void BoxUnion::include(const Box& b) {
  if (is_infinite(b) || is_infinite(box_)) {
    box_ = infinite_box();
  } else if (is_empty(b)) {
    return;
  } else if (is_empty(box_)) {
    box_ = b;
  } else {
    const FloatBox u = mupdf_union(to_float_box(box_), to_float_box(b));
    box_ = {u.x0, u.y0, u.x1, u.y1};
  }
}

}  // namespace quorl::pdf
