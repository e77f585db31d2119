// The regions of a patent publication's pages, measured from the first page's separator line.
#pragma once

#include <array>

#include "quorl/pdf/box.hpp"

namespace quorl::pdf {

// The separator is the first page's second vector drawing; the first is the header's frame.
inline constexpr int kSeparatorDrawing = 1;

struct PageLayout {
  // The page-count box: above the separator, on the right.
  Box page_info;
  // The header of every page, which names its kind.
  Box page_type;
  // The text area of every page but the first.
  Box text_area;
  // The first page's text below the separator, in two columns split at its middle; each column
  // reaches a little past the middle, so a line that straddles it is in one of them.
  std::array<Box, 2> abstract_columns;
};

// The regions of a document whose separator is `separator`: the page-count box and the columns
// follow the separator, the header and the text area are fixed.
PageLayout layout_from_separator(const Box& separator);

}  // namespace quorl::pdf
