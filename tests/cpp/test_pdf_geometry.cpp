// GoogleTest cases of the PDF core: line ranges, band membership and order, box unions, shown
// characters.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "quorl/pdf/bands.hpp"
#include "quorl/pdf/box.hpp"
#include "quorl/pdf/line_ranges.hpp"
#include "quorl/pdf/shown_text.hpp"

namespace quorl::pdf {
namespace {

using Ranges = std::vector<Extent>;

void expect_ranges(const Ranges& got, const Ranges& expected) {
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_DOUBLE_EQ(got[i].top, expected[i].top) << "range " << i;
    EXPECT_DOUBLE_EQ(got[i].bottom, expected[i].bottom) << "range " << i;
  }
}

TEST(LineRanges, CloseExtentsShareARange) {
  // 8 x 8 / (12 x 12) is about 0.44.
  expect_ranges(line_ranges({{100, 112}, {108, 120}}), {{100, 120}});
  // 10 x 10 / (12 x 12) is about 0.69.
  expect_ranges(line_ranges({{100, 112}, {110, 122}}), {{100, 112}, {110, 122}});
}

TEST(LineRanges, ContainmentAlwaysWidensAndDistanceNeverDoes) {
  EXPECT_TRUE(widens_range({102, 108}, {100, 110}));
  EXPECT_TRUE(widens_range({95, 115}, {100, 110}));
  EXPECT_FALSE(widens_range({120, 130}, {100, 110}));
  EXPECT_FALSE(widens_range({80, 90}, {100, 110}));
  EXPECT_FALSE(widens_range({110, 120}, {100, 110}));  // touching bands: 10 x 10 / 100
}

TEST(LineRanges, FirstQualifyingRangeIsWidenedAndRangesStaySeparate) {
  const Ranges merged = merge_ranges({{100, 110}, {111, 121}, {104, 117}});
  expect_ranges(merged, {{100, 117}, {111, 121}});
}

TEST(LineRanges, RoundedOutwardsToTenthsAndSorted) {
  expect_ranges(line_ranges({{100.04, 111.96}}), {{100.0, 112.0}});
  expect_ranges(line_ranges({{300, 310}, {100.01, 110.01}, {200, 210}}),
                {{100.0, 110.1}, {200, 210}, {300, 310}});
  // Same top: the lower bottom first.
  expect_ranges(line_ranges({{100, 130}, {100, 101}}), {{100, 130}});
  expect_ranges(line_ranges({{100, 101}, {100, 130}}), {{100, 130}});
}

TEST(LineRanges, RoundingNeverGivesNegativeZero) {
  const Extent r = round_outwards({-0.04, -0.01});
  EXPECT_DOUBLE_EQ(r.top, -0.1);
  EXPECT_EQ(r.bottom, 0.0);
  EXPECT_FALSE(std::signbit(r.bottom));
}

TEST(LineRanges, NonFiniteBoundsThrowLikePython) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_THROW(round_outwards({nan, 1}), std::domain_error);
  EXPECT_THROW(round_outwards({0, inf}), std::overflow_error);
  // Finite, but ten times the value is not.
  EXPECT_THROW(round_outwards({0, DBL_MAX}), std::overflow_error);
}

TEST(LineRanges, ZeroHeightUsesContainment) {
  EXPECT_TRUE(widens_range({105, 105}, {100, 110}));
  EXPECT_TRUE(widens_range({100, 100}, {100, 110}));
  EXPECT_FALSE(widens_range({111, 111}, {100, 110}));
  EXPECT_TRUE(widens_range({100, 100}, {100, 100}));
  EXPECT_FALSE(widens_range({95, 105}, {100, 100}));
  // Heights so small that their product underflows to zero.
  EXPECT_TRUE(widens_range({1e-200, 2e-200}, {0, 1e-200 * 3}));
  expect_ranges(line_ranges({{130, 130}, {130, 130}, {125, 135}}), {{125, 135}, {130, 130}});
}

TEST(Bands, MembershipIsDividedThenMultiplied) {
  EXPECT_TRUE(band_holds({100, 112}, {100, 120}));
  EXPECT_FALSE(band_holds({100, 112}, {110, 122}));
  EXPECT_FALSE(band_holds({110, 122}, {100, 112}));
  // (0 - 10) x (20 - 10) / 1 x 20 is negative: a piece around the band belongs to it.
  EXPECT_TRUE(band_holds({0, 20}, {10, 10.5}));
  // Entirely above or below a band at least one point high: never.
  EXPECT_FALSE(band_holds({50, 60}, {100, 101}));
  EXPECT_FALSE(band_holds({150, 160}, {100, 101}));
}

TEST(Bands, ZeroHeightUsesContainment) {
  EXPECT_TRUE(band_holds({105, 105}, {100, 110}));
  EXPECT_FALSE(band_holds({99, 99}, {100, 110}));
  EXPECT_TRUE(band_holds({100, 100}, {100, 100}));
  EXPECT_FALSE(band_holds({95, 105}, {100, 100}));
}

TEST(Bands, PiecesLeftToRightStable) {
  const std::vector<Piece> pieces = {
      {{100, 112}, 300}, {{100, 112}, 70}, {{101, 111}, 70}, {{200, 212}, 70}};
  const auto bands = assemble_bands(pieces, {{100, 112}, {200, 212}});
  ASSERT_EQ(bands.size(), 2u);
  EXPECT_EQ(bands[0], (std::vector<std::size_t>{1, 2, 0}));
  EXPECT_EQ(bands[1], (std::vector<std::size_t>{3}));
}

TEST(Bands, APieceCanBeInTwoBandsOrNone) {
  const std::vector<Piece> pieces = {{{96, 132}, 30}, {{100, 110}, 10}, {{500, 510}, 10}};
  const auto bands = assemble_bands(pieces, {{96, 132}, {118, 128}});
  EXPECT_EQ(bands[0], (std::vector<std::size_t>{1, 0}));
  EXPECT_EQ(bands[1], (std::vector<std::size_t>{0}));
}

TEST(Bands, NanLeftEdgesDoNotBreakTheOrder) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<Piece> pieces;
  for (int i = 0; i < 40; ++i) pieces.push_back({{100, 110}, i % 3 == 0 ? nan : 40.0 - i});
  const auto bands = assemble_bands(pieces, {{100, 110}});
  ASSERT_EQ(bands[0].size(), pieces.size());
  for (std::size_t k = 1; k < bands[0].size(); ++k) {
    const double a = pieces[bands[0][k - 1]].left, b = pieces[bands[0][k]].left;
    EXPECT_TRUE(std::isnan(b) || (!std::isnan(a) && a <= b));
  }
}

TEST(BoxUnion, ContainmentIncludesEdges) {
  EXPECT_TRUE(contains({0, 0, 10, 10}, {0, 0, 10, 10}));
  EXPECT_TRUE(contains({0, 0, 10, 10}, {2, 3, 2, 3}));
  EXPECT_FALSE(contains({0, 0, 10, 10}, {2, 3, 11, 4}));
  // A rectangle with its corners swapped is never inside.
  EXPECT_FALSE(contains({0, 0, 10, 10}, {5, 5, 4, 6}));
}

TEST(BoxUnion, UnionOfCharacters) {
  BoxUnion u({10, 100, 20, 112});
  u.include({20, 99, 30, 113});
  u.include({30, 100, 40, 112});
  EXPECT_EQ(u.box().x0, 10);
  EXPECT_EQ(u.box().y0, 99);
  EXPECT_EQ(u.box().x1, 40);
  EXPECT_EQ(u.box().y1, 113);
}

TEST(BoxUnion, EmptyBoxesAreSkippedOrReplaced) {
  BoxUnion u({10, 100, 20, 112});
  u.include({50, 50, 50, 60});  // no width
  EXPECT_EQ(u.box().x1, 20);
  BoxUnion empty({5, 5, 5, 5});
  empty.include({1, 2, 3, 4});
  EXPECT_EQ(empty.box().x0, 1);
  EXPECT_EQ(empty.box().y1, 4);
}

TEST(BoxUnion, SinglePrecisionOfMuPdf) {
  BoxUnion one({0.1, 0, 1, 1});
  EXPECT_EQ(one.box().x0, 0.1);  // a lone box keeps its doubles
  BoxUnion u({0.1, 0, 1, 1});
  u.include({0.3, 0, 1, 2});
  EXPECT_EQ(u.box().x0, static_cast<double>(0.1f));
  // Not empty in double, empty in float: MuPDF still takes it in, being valid.
  BoxUnion thin({0, 0, 1, 1});
  thin.include({2, 5, 2 + 1e-12, 6});
  EXPECT_EQ(thin.box().x1, 2);
  EXPECT_EQ(thin.box().y1, 6);
}

TEST(BoxUnion, InfiniteAndOutOfRange) {
  BoxUnion u({0, 0, 1, 1});
  u.include(infinite_box());
  EXPECT_TRUE(is_infinite(u.box()));
  u.include({5, 5, 6, 6});
  EXPECT_TRUE(is_infinite(u.box()));
  BoxUnion big({0, 0, 1, 1});
  EXPECT_THROW(big.include({0, 0, 3.5e38, 3}), std::overflow_error);
  BoxUnion inf({0, 0, 1, 1});
  inf.include({0, 0, std::numeric_limits<double>::infinity(), 3});
  EXPECT_TRUE(std::isinf(inf.box().x1));
}

TEST(ShownText, HiddenCharactersAreSkipped) {
  EXPECT_EQ(shown_indexes(U"a\u00a0b", U"\u00a0"), (std::vector<std::size_t>{0, 2}));
  EXPECT_EQ(shown_indexes(U"\u00a0\u00a0", U"\u00a0"), (std::vector<std::size_t>{}));
  EXPECT_EQ(shown_indexes(U"abc", U""), (std::vector<std::size_t>{0, 1, 2}));
  EXPECT_EQ(shown_indexes(U"xaybz", U"ab"), (std::vector<std::size_t>{0, 2, 4}));
  EXPECT_EQ(shown_indexes(U"", U"\u00a0"), (std::vector<std::size_t>{}));
}

}  // namespace
}  // namespace quorl::pdf
