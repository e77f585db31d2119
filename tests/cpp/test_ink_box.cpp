// GoogleTest cases of ink_box: the ends of the ink in part of a page image, specks of noise
// left out, search boxes reaching outside the image, rasters that must be refused.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "canvas.hpp"
#include "quorl/pdf/ink_box.hpp"

namespace quorl::pdf {
namespace {

TEST(InkBox, FindsTheInkOfOneLineAmongOthers) {
  Canvas c(300, 120);
  c.fill(40, 20, 260, 34);   // the line above
  c.fill(52, 50, 60, 64);    // a character,
  c.fill(64, 48, 200, 66);   // and the rest of the line
  c.fill(30, 90, 280, 104);  // the line below
  for (int channels : {1, 2, 3, 4}) {
    auto b = c.bytes(channels, 3);
    auto box = ink_box(c.view(b, channels, 3), {45, 44, 230, 70});
    ASSERT_TRUE(box.has_value()) << channels;
    EXPECT_EQ(box->x0, 52);
    EXPECT_EQ(box->x1, 200);
    EXPECT_EQ(box->y0, 48);
    EXPECT_EQ(box->y1, 66);
  }
}

TEST(InkBox, SpecksBelowMinDarkAreNotInk) {
  Canvas c(100, 100);
  c.fill(10, 10, 11, 11);  // one dark pixel
  c.fill(40, 40, 50, 50);
  auto b = c.bytes(1);
  auto box = ink_box(c.view(b, 1), {0, 0, 100, 100});
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->x0, 40);
  EXPECT_EQ(box->y0, 40);
  InkOptions one;
  one.min_dark = 1;
  EXPECT_EQ(ink_box(c.view(b, 1), {0, 0, 100, 100}, one)->x0, 10);
}

TEST(InkBox, LightGrayIsPaper) {
  Canvas c(50, 50);
  c.fill(10, 10, 40, 40, 200);
  auto b = c.bytes(1);
  EXPECT_FALSE(ink_box(c.view(b, 1), {0, 0, 50, 50}).has_value());
  InkOptions pale;
  pale.dark = 201;
  EXPECT_TRUE(ink_box(c.view(b, 1), {0, 0, 50, 50}, pale).has_value());
}

TEST(InkBox, SearchBoxesAreClippedToTheImage) {
  Canvas c(60, 40);
  c.fill(0, 0, 60, 3);
  auto b = c.bytes(1);
  auto box = ink_box(c.view(b, 1), {-1000, -1000, 1000, 1000});
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->x0, 0);
  EXPECT_EQ(box->x1, 60);
  EXPECT_EQ(box->y1, 3);
  EXPECT_FALSE(ink_box(c.view(b, 1), {70, 0, 90, 40}).has_value());  // outside
  EXPECT_FALSE(ink_box(c.view(b, 1), {30, 0, 10, 40}).has_value());  // inverted
}

TEST(InkBox, RefusesABadRaster) {
  std::vector<std::uint8_t> few(10);
  Raster r{few.data(), few.size(), 10, 10, 10, 1};
  EXPECT_THROW(ink_box(r, {0, 0, 10, 10}), std::invalid_argument);
}

}  // namespace
}  // namespace quorl::pdf
