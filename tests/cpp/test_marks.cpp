// The marks core: label boxes, the "imagenote" region fields and values, label fonts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "quorl/marks/image_note.hpp"
#include "quorl/marks/label_font.hpp"
#include "quorl/marks/label_geometry.hpp"

namespace quorl::marks {
namespace {

void expect_box(const Box& box, double x0, double y0, double x1, double y1) {
  EXPECT_DOUBLE_EQ(box.x0, x0);
  EXPECT_DOUBLE_EQ(box.y0, y0);
  EXPECT_DOUBLE_EQ(box.x1, x1);
  EXPECT_DOUBLE_EQ(box.y1, y1);
}

TEST(LabelGeometry, TwoPointsPerCharacter) {
  EXPECT_EQ(label_points_per_char(), 2);
  EXPECT_EQ(number_label_half_width(0), 0.0);
  EXPECT_EQ(number_label_half_width(5), 10.0);
  EXPECT_EQ(content_label_half_width(2), 6.0);
  EXPECT_EQ(content_label_half_width(3), 9.0);
}

TEST(LabelGeometry, NumberLabelRestsOnTheLine) {
  expect_box(number_label_box({100, 400, 300, 412}, 1), 193, 392, 207, 400);
  // An empty title still gets a 10-point box.
  expect_box(number_label_box({100, 400, 300, 412}, 0), 195, 392, 205, 400);
  expect_box(number_label_box({0, 0, 1, 5}, 5), -14.5, -8, 15.5, 0);
}

TEST(LabelGeometry, ImageNumberLabel) {
  const Box figure{100, 200, 300, 400};
  expect_box(image_number_label_box(figure, {0.1, 0.2, 0.3, 0.4}, 1), 173, 240, 187, 320);
  // Narrow and short regions grow to 8 x 15 points.
  expect_box(image_number_label_box(figure, {0.1, 0.2, 0.01, 0.02}, 1), 121, 240, 135, 255);
}

TEST(LabelGeometry, ImageNumberLabelKeepsANanWidthAsMaxDoes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Box box = image_number_label_box({100, 200, 300, 400}, {0, 0, nan, 0}, 1);
  EXPECT_TRUE(std::isnan(box.x0));
  EXPECT_DOUBLE_EQ(box.y1, 215);
}

TEST(LabelGeometry, ImageContentLabel) {
  const Box figure{100, 200, 300, 400};
  expect_box(image_content_label_box(figure, {0.1, 0.2, 0.3, 0.4}, 2), 169, 240, 191, 255);
  // No minimum width, and 15 points tall whatever the region's height.
  expect_box(image_content_label_box(figure, {0.1, 0.2, 0, 0.9}, 2), 109, 240, 131, 255);
}

TEST(LabelGeometry, FlagPlaces) {
  EXPECT_EQ(kClaimsFlagPage, 1);
  EXPECT_EQ(kClaimsFlagBox[0], 500);
  EXPECT_EQ(kClaimsFlagBox[3] - kClaimsFlagBox[1], kFlagHeight);
  EXPECT_EQ(kFlagRight - kFlagLeft, 60);
}

TEST(ImageNote, FieldsBetweenTheHashesAndBeforeTheDollar) {
  const ImageNoteFields note = image_note_fields(U"imagenote#1,22,333,4444,5$6,7#8");
  ASSERT_EQ(note.status, ImageNoteStatus::kOk);
  ASSERT_EQ(note.fields.size(), 4u);
  EXPECT_EQ(note.fields[0], U"1");
  EXPECT_EQ(note.fields[3], U"4444");
}

TEST(ImageNote, SecondHashEndsTheRegionText) {
  const ImageNoteFields note = image_note_fields(U"a#1,2#3,4");
  EXPECT_EQ(note.status, ImageNoteStatus::kTooFewFields);
  EXPECT_EQ(note.fields.size(), 2u);
}

TEST(ImageNote, MissingPieces) {
  EXPECT_EQ(image_note_fields(U"imagenote").status, ImageNoteStatus::kNoRegionField);
  const ImageNoteFields empty = image_note_fields(U"imagenote#");
  EXPECT_EQ(empty.status, ImageNoteStatus::kTooFewFields);
  ASSERT_EQ(empty.fields.size(), 1u);
  EXPECT_EQ(empty.fields[0], U"");
  const ImageNoteFields blanks = image_note_fields(U"#,,,$");
  EXPECT_EQ(blanks.status, ImageNoteStatus::kOk);
  EXPECT_EQ(blanks.fields[2], U"");
}

TEST(NoteFraction, PlainIntegers) {
  EXPECT_EQ(note_fraction(U"100"), 0.1);
  EXPECT_EQ(note_fraction(U" \t-7\n"), -0.007);
  EXPECT_EQ(note_fraction(U"+0300"), 0.3);
  EXPECT_EQ(note_fraction(U"1_000"), 1.0);
  // Integer zero has no sign.
  const auto zero = note_fraction(U"-0");
  ASSERT_TRUE(zero.has_value());
  EXPECT_FALSE(std::signbit(*zero));
}

TEST(NoteFraction, LeavesEverythingElseToTheInterpreter) {
  for (const char32_t* text :
       {U"", U" ", U"12.5", U"1e3", U"_1", U"1_", U"1__0", U"- 1", U"+-1", U"0x10", U"\u0661\u0662",
        U"\u30007", U"1\u001c", U"9007199254740993", U"0000000000000000001"}) {
    EXPECT_FALSE(note_fraction(text).has_value()) << std::u32string(text).size();
  }
  EXPECT_EQ(note_fraction(U"9007199254740992"), 9007199254740992.0 / 1000);
}

TEST(LabelFont, BeyondLatin1) {
  EXPECT_FALSE(label_needs_cjk_font(U""));
  EXPECT_FALSE(label_needs_cjk_font(U"Claims 12-14 =3"));
  EXPECT_FALSE(label_needs_cjk_font(U"caf\u00e9 \u00ff"));
  EXPECT_TRUE(label_needs_cjk_font(U"\u5b9e\u65bd\u4f8b"));
  EXPECT_TRUE(label_needs_cjk_font(U"Fig \u0100"));
  EXPECT_TRUE(label_needs_cjk_font(U"\u2013"));
}

}  // namespace
}  // namespace quorl::marks
