// GoogleTest cases of the glyph selection: which characters a quadrilateral or a point selects,
// as stretches of the whole text, and whether a page shows a line's characters.
#include <gtest/gtest.h>

#include <vector>

#include "quorl/pdf/glyph_selection.hpp"

namespace quorl::pdf {
namespace {

// A line of glyphs 10 points wide and 12 tall, side by side from x = 0, at the given top.
SelectableLine line_of(std::u32string_view text, double top, std::int64_t offset) {
  SelectableLine line;
  line.offset = offset;
  double x = 0;
  for (char32_t c : text) {
    line.glyphs.push_back({c, {x, top, x + 10, top + 12}});
    x += 10;
  }
  return line;
}

Quad quad_of(double x0, double y0, double x1, double y1) {
  return {{{x0, y0}, {x1, y0}, {x0, y1}, {x1, y1}}};
}

void expect_stretches(const std::vector<Stretch>& got, const std::vector<Stretch>& expected) {
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].start, expected[i].start) << "stretch " << i;
    EXPECT_EQ(got[i].end, expected[i].end) << "stretch " << i;
  }
}

TEST(QuadHolds, EitherCornerOrderAndAnyRotation) {
  const Quad z_order = quad_of(0, 0, 10, 10);
  const Quad counter_clockwise{{{0, 10}, {10, 10}, {10, 0}, {0, 0}}};
  const Quad diamond{{{5, 0}, {10, 5}, {0, 5}, {5, 10}}};
  for (const Quad& q : {z_order, counter_clockwise}) {
    EXPECT_TRUE(quad_holds(q, {5, 5}));
    EXPECT_TRUE(quad_holds(q, {10, 10}));  // the boundary belongs to it
    EXPECT_FALSE(quad_holds(q, {10.01, 5}));
  }
  EXPECT_TRUE(quad_holds(diamond, {5, 5}));
  EXPECT_FALSE(quad_holds(diamond, {1, 1}));
}

TEST(StretchesUnderQuads, CentresDecideAndNeighboursJoinAcrossLines) {
  const std::vector<SelectableLine> lines = {line_of(U"abcd", 0, 100), line_of(U"efgh", 20, 104)};
  // Over "cd" and 1 point into "b", which keeps its centre outside; then "ef" below.
  expect_stretches(stretches_under_quads(lines, {quad_of(19, 0, 40, 12)}, U""), {{102, 104}});
  expect_stretches(
      stretches_under_quads(lines, {quad_of(20, 0, 40, 12), quad_of(0, 20, 20, 32)}, U""),
      {{102, 106}});
  expect_stretches(
      stretches_under_quads(lines, {quad_of(0, 0, 10, 12), quad_of(30, 20, 40, 32)}, U""),
      {{100, 101}, {107, 108}});
  expect_stretches(stretches_under_quads(lines, {quad_of(100, 100, 110, 110)}, U""), {});
}

TEST(StretchesUnderQuads, HiddenCharactersHaveNoOffset) {
  // "a", a no-break space, "b": the whole text shows "ab".
  const std::vector<SelectableLine> lines = {line_of(U"a\u00a0b", 0, 5)};
  expect_stretches(stretches_under_quads(lines, {quad_of(0, 0, 30, 12)}, U"\u00a0"), {{5, 7}});
  expect_stretches(stretches_under_quads(lines, {quad_of(10, 0, 20, 12)}, U"\u00a0"), {});
}

TEST(StretchesUnderQuads, ACharacterOfTwoLinesCountsOnce) {
  const std::vector<SelectableLine> lines = {line_of(U"ab", 0, 0), line_of(U"ab", 0, 0)};
  expect_stretches(stretches_under_quads(lines, {quad_of(0, 0, 20, 12)}, U""), {{0, 2}});
}

TEST(StretchesAtPoint, TheBoxesHoldingIt) {
  SelectableLine figure = line_of(U"xxx", 0, 40);
  for (SelectableGlyph& g : figure.glyphs) g.box = {0, 0, 100, 80};  // an image read as text
  expect_stretches(stretches_at_point({figure}, {50, 40}, U""), {{40, 43}});
  expect_stretches(stretches_at_point({figure}, {150, 40}, U""), {});
}

TEST(GlyphsNotOnPage, SameCharacterWithinToleranceOrAnImage) {
  const std::vector<SelectableLine> lines = {line_of(U"ab", 0, 0)};
  const std::vector<SelectableGlyph> page = {{U'a', {0.3, 0, 10, 12}}, {U'b', {10, 0.3, 20, 12}}};
  EXPECT_EQ(glyphs_not_on_page(lines, page, {}, 0.5), 0u);
  EXPECT_EQ(glyphs_not_on_page(lines, page, {}, 0.2), 2u);
  const std::vector<SelectableGlyph> other = {{U'a', {0, 0, 10, 12}}, {U'c', {10, 0, 20, 12}}};
  EXPECT_EQ(glyphs_not_on_page(lines, other, {}, 0.5), 1u);
  EXPECT_EQ(glyphs_not_on_page(lines, other, {{10, 0, 20, 12}}, 0.5), 0u);  // "b" on an image
}

TEST(GlyphsNotOnPage, ABoxPartedFromItsNeighboursIsTheSameGlyph) {
  const std::vector<SelectableLine> lines = {line_of(U"ab", 0, 0)};
  const std::vector<SelectableGlyph> wide = {{U'a', {0, 0, 16, 12}}, {U'b', {4, 0, 20, 12}}};
  EXPECT_EQ(glyphs_not_on_page(lines, wide, {}, 0.5), 0u);
  const std::vector<SelectableGlyph> narrow = {{U'a', {0, 0, 8, 12}}, {U'b', {12, 0, 20, 12}}};
  EXPECT_EQ(glyphs_not_on_page(lines, narrow, {}, 0.5), 2u);
}

}  // namespace
}  // namespace quorl::pdf
