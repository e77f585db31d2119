// GoogleTest cases of the core's text line.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
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

// Glyphs of `text` with (left, right) each, all on one baseline.
std::vector<Glyph> glyphs_at(std::u32string_view text,
                             const std::vector<std::pair<double, double>>& spans) {
  std::vector<Glyph> glyphs;
  for (std::size_t k = 0; k < spans.size(); ++k) {
    glyphs.push_back({text[k], {spans[k].first, 20, spans[k].second, 32}});
  }
  return glyphs;
}

struct Parting {
  const char* name;
  std::u32string_view text;
  std::vector<std::pair<double, double>> before, after;
  std::vector<std::size_t> changed;
};

class PartOverlappingBoxes : public ::testing::TestWithParam<Parting> {};

TEST_P(PartOverlappingBoxes, EachGlyphKeepsThePartItIsSetIn) {
  std::vector<Glyph> glyphs = glyphs_at(GetParam().text, GetParam().before);
  EXPECT_EQ(part_overlapping_boxes(glyphs), GetParam().changed);
  const std::vector<Glyph> expected = glyphs_at(GetParam().text, GetParam().after);
  ASSERT_EQ(glyphs.size(), expected.size());
  for (std::size_t k = 0; k < glyphs.size(); ++k) {
    EXPECT_DOUBLE_EQ(glyphs[k].box.x0, expected[k].box.x0) << k;
    EXPECT_DOUBLE_EQ(glyphs[k].box.x1, expected[k].box.x1) << k;
    EXPECT_EQ(glyphs[k].box.y0, 20) << k;
    EXPECT_EQ(glyphs[k].box.y1, 32) << k;
  }
}

// Boxes as CN110532550A and CN112231193A set them.
INSTANTIATE_TEST_SUITE_P(
    Lines, PartOverlappingBoxes,
    ::testing::Values(
        // The comma's em box reaches 6.9 pt into the next character: it ends where that begins.
        Parting{"Comma",
                U"时，向",
                {{218.1, 230.1}, {230.1, 242.1}, {235.2, 247.2}},
                {{218.1, 230.1}, {230.1, 235.2}, {235.2, 247.2}},
                {1}},
        // An opening bracket's box reaches back over the character before: it begins after it.
        Parting{"OpeningBracket",
                U"板（事",
                {{475.7, 487.7}, {483.5, 495.5}, {493.9, 505.9}},
                {{475.7, 487.7}, {487.7, 493.9}, {493.9, 505.9}},
                {1}},
        // A comma and an opening quote share one em, halved.
        Parting{"CommaThenQuote",
                U"、“异",
                {{162.0, 174.0}, {162.7, 174.7}, {174.0, 186.0}},
                {{162.0, 168.35}, {168.35, 174.0}, {174.0, 186.0}},
                {0, 1}},
        // A blank inside a character's box leaves the character whole; the blank is cut.
        Parting{"Blank", U"字 字", {{0, 12}, {9, 14}, {12, 24}}, {{0, 12}, {9, 12}, {12, 24}}, {1}},
        // Boxes that touch, up to single precision's rounding, or leave a gap stay as they are.
        Parting{"Touching",
                U"xxx",
                {{0, 10.00003}, {10, 20}, {21, 30}},
                {{0, 10.00003}, {10, 20}, {21, 30}},
                {}},
        // Text drawn twice over itself, and a piece further left: no box is cut to nothing.
        Parting{"DrawnTwice",
                U"xxxx",
                {{0, 10}, {0, 10}, {5, 15}, {2, 8}},
                {{0, 10}, {0, 5}, {5, 15}, {2, 8}},
                {1}},
        Parting{"OneGlyph", U"x", {{0, 30}}, {{0, 30}}, {}}, Parting{"Empty", U"", {}, {}, {}}),
    [](const ::testing::TestParamInfo<Parting>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorl::pdf
