// Where the labels of marks go: number, content and flag boxes around marked areas.
#pragma once

#include <cstddef>

#include "quorl/pdf/box.hpp"

namespace quorl::marks {

// Labels are drawn on PDF pages, so they are placed in the page rectangles of the PDF core.
using pdf::Box;

// A region inside a marked figure, every value a fraction of the figure's width or height:
// `x`, `y` place its top-left corner, `w`, `h` are its size.
struct ImageRegion {
  double x, y, w, h;
};

// Points a label widens by on each side per character of its text: the integer part of ln 10.
int label_points_per_char();

// Half the text width of a number label: 2 points per character of the title.
double number_label_half_width(std::size_t title_length);

// Half the text width of a content label: 3 points per character of the content.
double content_label_half_width(std::size_t content_length);

// The number label over a marked line: 8 points tall, resting on the line's top edge, centred on
// the line, 2 * half width + 10 points wide.
Box number_label_box(const Box& line, std::size_t title_length);

// The number label inside a figure: centred on the right edge of `region`, which is widened to at
// least 8 and heightened to at least 15 points; as tall as the region.
Box image_number_label_box(const Box& figure, const ImageRegion& region, std::size_t title_length);

// The content label inside a figure: centred on the right edge of `region` (no minimum size),
// hanging 15 points from the region's top edge.
Box image_content_label_box(const Box& figure, const ImageRegion& region,
                            std::size_t content_length);

// The fixed "Claims" flag: on the document's second page, near its top right corner.
inline constexpr int kClaimsFlagPage = 1;
inline constexpr int kClaimsFlagBox[4] = {500, 30, 560, 45};

// The flag beside a marked line keeps the line's top and spans these columns.
inline constexpr int kFlagLeft = 500;
inline constexpr int kFlagRight = 560;
inline constexpr int kFlagHeight = 15;

}  // namespace quorl::marks
