// GoogleTest cases of the region that reads a line running past the edges of its page's regions.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "quorl/pdf/layout.hpp"
#include "quorl/pdf/overhang.hpp"

namespace quorl::pdf {
namespace {

const Box kTextArea{50, 55, 555, 770};

TEST(Overhang, ShareInsideIsTheProductOfTheWidthAndHeightShares) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_DOUBLE_EQ(share_inside({40, 100, 140, 110}, kTextArea), 0.9);
  EXPECT_DOUBLE_EQ(share_inside({500, 765, 600, 775}, kTextArea), 0.55 * 0.5);
  EXPECT_DOUBLE_EQ(share_inside({500, 100, 600, 100}, kTextArea), 0.55);  // flat
  EXPECT_DOUBLE_EQ(share_inside({500, 40, 600, 40}, kTextArea), 0.0);
  EXPECT_EQ(share_inside({140, 100, 40, 110}, kTextArea), 0.0);  // inside out
  EXPECT_EQ(share_inside({nan, 100, 140, 110}, kTextArea), 0.0);
  EXPECT_EQ(share_inside({40, 100, 140, 110}, {nan, 0, 600, 800}), 0.0);
}

TEST(Overhang, TheTextAreaReadsWhatItHoldsMostOfButNotHeadersOrPageNumbers) {
  EXPECT_FALSE(region_of_overhanging_piece({60, 100, 500, 110}, {kTextArea}));  // inside
  EXPECT_EQ(region_of_overhanging_piece({420, 100, 567, 112}, {kTextArea}), 0u);
  EXPECT_EQ(region_of_overhanging_piece({70, 761.5, 200, 774.2}, {kTextArea}), 0u);
  EXPECT_FALSE(region_of_overhanging_piece({505, 100, 605, 112}, {kTextArea}));  // a half
  EXPECT_FALSE(region_of_overhanging_piece({400, 47.5, 463, 60.2}, {kTextArea}));
  EXPECT_FALSE(region_of_overhanging_piece({295, 774, 300.3, 784.4}, {kTextArea}));
}

TEST(Overhang, ColumnsOfTheFirstPage) {
  const PageLayout layout = layout_from_separator({50, 240, 545, 240});
  const std::vector<Box> columns(layout.abstract_columns.begin(), layout.abstract_columns.end());
  EXPECT_EQ(region_of_overhanging_piece({312, 369.2, 556.5, 383.6}, columns), 1u);
  // Across the middle: read once, by the column holding more; the first on a tie.
  EXPECT_EQ(region_of_overhanging_piece({200, 320, 336.5, 332}, columns), 0u);
  EXPECT_EQ(region_of_overhanging_piece({249.5, 320, 347.5, 332}, columns), 1u);
  EXPECT_EQ(region_of_overhanging_piece({247, 320, 347, 332}, columns), 0u);
  // Inside the left column and overhanging the right one: the left reads it.
  EXPECT_FALSE(region_of_overhanging_piece({250, 320, 297, 332}, columns));
  // Above the separator: the page's header, not a column's.
  EXPECT_FALSE(region_of_overhanging_piece({330, 232.5, 414, 245.2}, columns));
}

}  // namespace
}  // namespace quorl::pdf
