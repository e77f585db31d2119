// GoogleTest cases of the PDF core's page model: regions, page kinds and page counts.
#include <gtest/gtest.h>

#include <optional>
#include <string_view>

#include "quorl/pdf/layout.hpp"
#include "quorl/pdf/page_classification.hpp"
#include "quorl/pdf/page_counts.hpp"
#include "quorl/pdf/vocabulary.hpp"

namespace quorl::pdf {
namespace {

void expect_box(const Box& got, const Box& expected) {
  EXPECT_DOUBLE_EQ(got.x0, expected.x0);
  EXPECT_DOUBLE_EQ(got.y0, expected.y0);
  EXPECT_DOUBLE_EQ(got.x1, expected.x1);
  EXPECT_DOUBLE_EQ(got.y1, expected.y1);
}

TEST(Layout, RegionsFollowTheSeparator) {
  const double x0 = 62.5, x1 = 532.25, y = 231.75;
  const PageLayout layout = layout_from_separator({x0, y - 0.5, x1, y});
  expect_box(layout.page_info, {297, y - 60, 525, y});
  const double middle = (x0 + x1) / 2;
  expect_box(layout.abstract_columns[0], {x0 - 2, y, middle + 1, 770});
  expect_box(layout.abstract_columns[1], {middle - 2, y, x1 + 2, 770});
  // Header and text area do not move with the separator.
  const PageLayout other = layout_from_separator({10, 100, 20, 100});
  expect_box(other.page_type, layout.page_type);
  expect_box(other.text_area, layout.text_area);
  EXPECT_LT(layout.page_type.y1, layout.text_area.y1);
}

std::string_view kind_of(std::u32string_view header) {
  const char* kind = classify_header(header);
  return kind ? kind : "";
}

TEST(PageClassification, HeaderWordsDecideTheKind) {
  EXPECT_EQ(kind_of(U"权利要求书"), kClaimsKind);
  EXPECT_EQ(kind_of(U"说明书"), kDescriptionsKind);
  EXPECT_EQ(kind_of(U"序列表"), kDescriptionsKind);
  // The drawings' header holds the description's word too; the drawings' word is tried first.
  EXPECT_EQ(kind_of(U"说明书附图"), kDrawingsKind);
  EXPECT_EQ(kind_of(U"目录"), "");
  EXPECT_EQ(kind_of(U""), "");
}

TEST(PageClassification, BlanksOfEveryWidthAreDropped) {
  EXPECT_EQ(kind_of(U"权 利\u3000要求\u00a0书"), kClaimsKind);
  EXPECT_EQ(kind_of(U"说明书\u3000附 图"), kDrawingsKind);
  // Other separators split the word.
  EXPECT_EQ(kind_of(U"权利\t要求书"), "");
}

using Counts = std::array<std::optional<std::u32string_view>, 4>;

TEST(PageCounts, ExampleBox) {
  const Counts counts = read_page_counts(U"权利要求书2页说明书10页附图3页");
  EXPECT_EQ(counts[0], U"2");
  EXPECT_EQ(counts[1], U"10");
  EXPECT_EQ(counts[2], std::nullopt);
  EXPECT_EQ(counts[3], U"3");
}

TEST(PageCounts, WordDirectlyFollowedByPageHasNoDigits) {
  const Counts counts = read_page_counts(U"权利要求书页说明书3页序列表页附图页");
  EXPECT_EQ(counts[0], U"");
  EXPECT_EQ(counts[1], U"3");
  EXPECT_EQ(counts[2], U"");
  EXPECT_EQ(counts[3], U"");
}

TEST(PageCounts, LastOccurrenceWithDigitsWins) {
  const Counts counts = read_page_counts(U"说明书4页说明书附图说明书7页");
  EXPECT_EQ(counts[0], std::nullopt);
  EXPECT_EQ(counts[1], U"7");
  EXPECT_EQ(counts[3], std::nullopt);
}

TEST(PageCounts, OnlyTheFirstLineAndAsciiDigitsCount) {
  const Counts counts = read_page_counts(U"说明书4页\n权利要求书2页");
  EXPECT_EQ(counts[0], std::nullopt);
  EXPECT_EQ(counts[1], U"4");
  EXPECT_EQ(read_page_counts(U"说明书４页")[1], std::nullopt);
  EXPECT_EQ(read_page_counts(U"说明书4x页")[1], std::nullopt);
}

TEST(PageCounts, ALineReadsThemWhenOneCountHasItsNumber) {
  EXPECT_TRUE(reads_page_counts(U"权利要求书2页说明书10页附图3页"));
  EXPECT_TRUE(reads_page_counts(U"附图3页"));  // the second line of a box on two lines
  EXPECT_TRUE(reads_page_counts(U"权利要求书\uff12页"));
  EXPECT_TRUE(reads_page_counts(U"权利要求书 2\u3000页"));
  EXPECT_FALSE(reads_page_counts(U"附图页"));
  EXPECT_FALSE(reads_page_counts(U"根据说明书所述的方法"));
}

// A publication's first page: the rule under the header, the page-count line and, 4.5 pt
// below it, the separator; 595 pt wide.
constexpr double kWidth = 595;
const Box kHeaderRule{70.9, 141.8, 524.4, 141.8}, kSeparator{70.9, 421.1, 524.4, 421.1};
const Box kCountLine{339.4, 407.5, 384.4, 416.5};

TEST(Separator, IsTheRuleUnderThePageCountsInAnyDrawingOrder) {
  const Box emblem{55, 25, 95, 65}, footer{70.9, 782, 524.4, 782};
  EXPECT_EQ(find_separator({kHeaderRule, kSeparator}, {kCountLine}, kWidth), 1u);
  EXPECT_EQ(find_separator({kSeparator}, {kCountLine}, kWidth), 0u);
  EXPECT_EQ(find_separator({emblem, kHeaderRule, kSeparator, footer}, {kCountLine}, kWidth), 2u);
  EXPECT_EQ(find_separator({kSeparator, footer, kHeaderRule}, {kCountLine}, kWidth), 0u);
  // A thin bar counts as a rule; of two rules under the line the nearer is the separator.
  const Box bar{70.9, 420, 524.4, 421.5}, lower{70.9, 440, 524.4, 440};
  EXPECT_EQ(find_separator({lower, bar}, {kCountLine}, kWidth), 1u);
}

TEST(Separator, NothingThatIsNoRuleUnderThePageCounts) {
  const Box box_around{300, 400, 400, 425}, short_rule{330, 421, 400, 421};
  const Box beside{30, 421, 300, 421}, far_below{70.9, 500, 524.4, 500};
  EXPECT_EQ(find_separator({box_around, short_rule, beside, far_below, kHeaderRule}, {kCountLine},
                           kWidth),
            std::nullopt);
  EXPECT_EQ(find_separator({kHeaderRule, kSeparator}, {}, kWidth), std::nullopt);
  // The first line with a rule below decides; a line of the abstract quoting counts does not.
  const Box abstract_line{80, 600, 300, 610};
  EXPECT_EQ(find_separator({kHeaderRule, kSeparator}, {kCountLine, abstract_line}, kWidth), 1u);
}

}  // namespace
}  // namespace quorl::pdf
