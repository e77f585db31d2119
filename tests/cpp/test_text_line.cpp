// GoogleTest cases of the core's text line.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "quorl/pdf/text_line.hpp"

namespace quorl::pdf {
namespace {

TEST(TextLine, TextIsOneCodePointPerGlyphInOrder) {
  TextLine line;
  const char32_t text[] = U"权a\U00020000\u00a0";
  for (std::size_t k = 0; k + 1 < sizeof text / sizeof text[0]; ++k) {
    const double left = 10 + 7.5 * static_cast<double>(k);
    line.glyphs.push_back({text[k], {left, 20, left + 7.5, 32}});
  }
  EXPECT_EQ(text_of(line), std::u32string(text));
  EXPECT_EQ(text_of(TextLine{}), U"");
}

// (left, right) of each glyph of a line, all on one baseline.
std::vector<Glyph> glyphs_at(const std::vector<std::pair<double, double>>& spans) {
  std::vector<Glyph> glyphs;
  for (const auto& [left, right] : spans) glyphs.push_back({U'x', {left, 20, right, 32}});
  return glyphs;
}

struct Cut {
  const char* name;
  std::vector<std::pair<double, double>> before, after;
  std::vector<std::size_t> cut;
};

class EndBoxesAtNextGlyph : public ::testing::TestWithParam<Cut> {};

TEST_P(EndBoxesAtNextGlyph, ABoxReachingIntoTheNextEndsWhereItBegins) {
  std::vector<Glyph> glyphs = glyphs_at(GetParam().before);
  EXPECT_EQ(end_boxes_at_next_glyph(glyphs), GetParam().cut);
  const std::vector<Glyph> expected = glyphs_at(GetParam().after);
  ASSERT_EQ(glyphs.size(), expected.size());
  for (std::size_t k = 0; k < glyphs.size(); ++k) {
    EXPECT_EQ(glyphs[k].box.x0, expected[k].box.x0) << k;
    EXPECT_EQ(glyphs[k].box.x1, expected[k].box.x1) << k;
    EXPECT_EQ(glyphs[k].box.y0, 20) << k;
    EXPECT_EQ(glyphs[k].box.y1, 32) << k;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, EndBoxesAtNextGlyph,
    ::testing::Values(
        // "时，向" as CN110532550A sets it: the comma's em box reaches 6.9 pt into the next.
        Cut{"NarrowComma",
            {{218.1, 230.1}, {230.1, 242.1}, {235.2, 247.2}},
            {{218.1, 230.1}, {230.1, 235.2}, {235.2, 247.2}},
            {1}},
        // Boxes that touch, up to single precision's rounding, or leave a gap stay as they are.
        Cut{"Touching",
            {{0, 10.00003}, {10, 20}, {21, 30}},
            {{0, 10.00003}, {10, 20}, {21, 30}},
            {}},
        // Text drawn twice over itself, and a piece further left: no box is cut to nothing.
        Cut{"DrawnTwice",
            {{0, 10}, {0, 10}, {5, 15}, {2, 8}},
            {{0, 10}, {0, 5}, {5, 15}, {2, 8}},
            {1}},
        // The last glyph has no next one; a line of one glyph or none is kept.
        Cut{"OneGlyph", {{0, 30}}, {{0, 30}}, {}}, Cut{"Empty", {}, {}, {}}),
    [](const ::testing::TestParamInfo<Cut>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorl::pdf
