// GoogleTest cases of the region that reads a line running past the edges of its page's regions.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "quorl/pdf/layout.hpp"
#include "quorl/pdf/overhang.hpp"

namespace quorl::pdf {
namespace {

const Box kTextArea{50, 55, 555, 770};

TEST(Overhang, ShareInsideIsTheProductOfTheWidthAndHeightShares) {
  EXPECT_DOUBLE_EQ(share_inside({40, 100, 140, 110}, kTextArea), 0.9);
  EXPECT_DOUBLE_EQ(share_inside({500, 765, 600, 775}, kTextArea), 0.55 * 0.5);
  EXPECT_DOUBLE_EQ(share_inside({60, 100, 70, 110}, kTextArea), 1.0);
  EXPECT_DOUBLE_EQ(share_inside({600, 100, 700, 110}, kTextArea), 0.0);
  // A flat or thin piece counts by its other side, where it stands.
  EXPECT_DOUBLE_EQ(share_inside({500, 100, 600, 100}, kTextArea), 0.55);
  EXPECT_DOUBLE_EQ(share_inside({500, 40, 600, 40}, kTextArea), 0.0);
  EXPECT_DOUBLE_EQ(share_inside({100, 100, 100, 100}, kTextArea), 1.0);
}

TEST(Overhang, MalformedBoxesShareNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(share_inside({140, 100, 40, 110}, kTextArea), 0.0);
  EXPECT_EQ(share_inside({nan, 100, 140, 110}, kTextArea), 0.0);
  EXPECT_EQ(share_inside({40, 100, 140, 110}, {nan, 0, 600, 800}), 0.0);
  EXPECT_EQ(share_inside({40, 100, 140, 110}, {600, 0, 0, 800}), 0.0);
  EXPECT_EQ(share_inside({-inf, 100, inf, 110}, kTextArea), 0.0);
  EXPECT_FALSE(region_of_overhanging_piece({nan, nan, nan, nan}, {kTextArea}));
  EXPECT_FALSE(region_of_overhanging_piece({140, 100, 40, 110}, {kTextArea}));
}

TEST(Overhang, PiecesInsideARegionAreLeftToTheRegionsHoldingThem) {
  EXPECT_FALSE(region_of_overhanging_piece({60, 100, 500, 110}, {kTextArea}));
  // Inside one region and overhanging another: the first reads it, the other does not.
  EXPECT_FALSE(region_of_overhanging_piece({60, 100, 200, 110}, {{0, 0, 150, 800}, kTextArea}));
  EXPECT_FALSE(region_of_overhanging_piece({60, 100, 200, 110}, {}));
}

TEST(Overhang, TheRegionHoldingMoreThanHalfReadsAnOverhangingPiece) {
  EXPECT_EQ(region_of_overhanging_piece({420, 100, 567, 112}, {kTextArea}), 0u);
  EXPECT_EQ(region_of_overhanging_piece({70, 761.5, 200, 774.2}, {kTextArea}), 0u);
  // Exactly half, or less, is not most of it.
  EXPECT_FALSE(region_of_overhanging_piece({505, 100, 605, 112}, {kTextArea}));
  EXPECT_FALSE(region_of_overhanging_piece({540, 100, 603, 112}, {kTextArea}));
}

TEST(Overhang, HeadersAndPageNumbersStayOut) {
  // A running header that dips into the text area, one just above it, a page number below it.
  EXPECT_FALSE(region_of_overhanging_piece({400, 47.5, 463, 60.2}, {kTextArea}));
  EXPECT_FALSE(region_of_overhanging_piece({500.8, 41.5, 530.1, 52.0}, {kTextArea}));
  EXPECT_FALSE(region_of_overhanging_piece({295, 774, 300.3, 784.4}, {kTextArea}));
}

TEST(Overhang, ColumnsOfTheFirstPage) {
  const PageLayout layout = layout_from_separator({50, 240, 545, 240});
  const std::vector<Box> columns(layout.abstract_columns.begin(), layout.abstract_columns.end());
  // Past the right column's outer edge.
  EXPECT_EQ(region_of_overhanging_piece({312, 369.2, 546.5 + 10, 383.6}, columns), 1u);
  // Across the middle, mostly on one side: read once, by that side.
  EXPECT_EQ(region_of_overhanging_piece({200, 320, 336.5, 332}, columns), 0u);
  EXPECT_EQ(region_of_overhanging_piece({270, 320, 420, 332}, columns), 1u);
  // Centred on the overlap, more than half in both: the one holding more, the first on a tie.
  const double middle = (50 + 545) / 2.0;
  EXPECT_EQ(region_of_overhanging_piece({middle - 50, 320, middle + 48, 332}, columns), 0u);
  EXPECT_EQ(region_of_overhanging_piece({middle - 48, 320, middle + 50, 332}, columns), 1u);
  EXPECT_EQ(region_of_overhanging_piece({middle - 50.5, 320, middle + 49.5, 332}, columns), 0u);
  // Above the separator: the page's header, not a column's.
  EXPECT_FALSE(region_of_overhanging_piece({330, 232.5, 414, 245.2}, columns));
}

}  // namespace
}  // namespace quorl::pdf
