// Label boxes of the markers, computed in the same order of operations as the interpreter would,
// so the boxes are bit-for-bit those of the float arithmetic they describe.
#include "quorl/marks/label_geometry.hpp"

#include <cmath>

namespace quorl::marks {

namespace {

// The interpreter's max(a, b): keeps `a` unless `b` is strictly greater, so a NaN `a` survives.
double first_max(double a, double b) {
  return b > a ? b : a;
}

constexpr double kNumberLabelHeight = 8;
constexpr double kLabelPadding = 5;
constexpr double kMinRegionWidth = 8;
constexpr double kMinRegionHeight = 15;
constexpr double kContentLabelHeight = 15;

}  // namespace

int label_points_per_char() {
  return static_cast<int>(std::log(10.0));
}

double number_label_half_width(std::size_t title_length) {
  return static_cast<double>(label_points_per_char()) * static_cast<double>(title_length);
}

double content_label_half_width(std::size_t content_length) {
  // The integer product first, then the float factor.
  return static_cast<double>(label_points_per_char()) * static_cast<double>(content_length) * 1.5;
}

Box number_label_box(const Box& line, std::size_t title_length) {
  const double center = (line.x0 + line.x1) / 2;
  const double half = number_label_half_width(title_length);
  return {center - half - kLabelPadding, line.y0 - kNumberLabelHeight,
          center + half + kLabelPadding, line.y0 - 0};
}

Box image_number_label_box(const Box& figure, const ImageRegion& region, std::size_t title_length) {
  const double x0 = figure.x0 + (figure.x1 - figure.x0) * region.x;
  const double x1 = x0 + first_max((figure.x1 - figure.x0) * region.w, kMinRegionWidth);
  const double y0 = figure.y0 + (figure.y1 - figure.y0) * region.y;
  const double y1 = y0 + first_max((figure.y1 - figure.y0) * region.h, kMinRegionHeight);
  const double half = number_label_half_width(title_length);
  return {x1 - half - kLabelPadding, y0, x1 + half + kLabelPadding, y1};
}

Box image_content_label_box(const Box& figure, const ImageRegion& region,
                            std::size_t content_length) {
  const double x0 = figure.x0 + (figure.x1 - figure.x0) * region.x;
  const double x1 = x0 + (figure.x1 - figure.x0) * region.w;
  const double y0 = figure.y0 + (figure.y1 - figure.y0) * region.y;
  const double half = content_label_half_width(content_length);
  return {x1 - half - kLabelPadding, y0, x1 + half + kLabelPadding, y0 + kContentLabelHeight};
}

}  // namespace quorl::marks
