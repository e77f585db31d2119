// Page regions from the separator line.

// The arithmetic follows the order of the published coordinates, so the boxes are bit-for-bit
// the same.
#include "quorl/pdf/layout.hpp"

namespace quorl::pdf {

namespace {

constexpr double kPageInfoLeft = 297, kPageInfoRight = 525, kPageInfoHeight = 60;
constexpr Box kPageType = {160, 20, 480, 60};
constexpr Box kTextArea = {50, 55, 555, 770};
// How far a column reaches beyond the separator's ends and, each way, across the middle.
constexpr double kColumnOverhang = 2, kLeftColumnPastMiddle = 1, kRightColumnPastMiddle = 2;

}  // namespace

PageLayout layout_from_separator(const Box& separator) {
  const double left = separator.x0, right = separator.x1, y = separator.y1;
  const double middle = (left + right) / 2;
  const double bottom = kTextArea.y1;
  PageLayout layout;
  layout.page_info = {kPageInfoLeft, y - kPageInfoHeight, kPageInfoRight, y};
  layout.page_type = kPageType;
  layout.text_area = kTextArea;
  layout.abstract_columns = {
      Box{left - kColumnOverhang, y, middle + kLeftColumnPastMiddle, bottom},
      Box{middle - kRightColumnPastMiddle, y, right + kColumnOverhang, bottom},
  };
  return layout;
}

}  // namespace quorl::pdf
