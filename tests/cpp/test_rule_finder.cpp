// GoogleTest cases of the rule finder: rules among text-like strokes, thick and skewed rules,
// pixel layouts and rasters that must be refused.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "canvas.hpp"
#include "quorl/pdf/rule_finder.hpp"

namespace quorl::pdf {
namespace {

TEST(RuleFinder, FindsTheRuleAmongTextStrokes) {
  Canvas c(600, 200);
  // "Text": short strokes with gaps wider than max_gap, above and below the rule.
  for (int x = 20; x < 580; x += 14) {
    c.fill(x, 40, x + 10, 42);
    c.fill(x, 150, x + 9, 160);
  }
  c.line(30, 570, 100, 3);
  auto b = c.bytes(1);
  std::vector<Rule> rules = find_rules(c.view(b, 1));
  ASSERT_EQ(rules.size(), 1u);
  EXPECT_EQ(rules[0].x0, 30);
  EXPECT_EQ(rules[0].x1, 570);
  EXPECT_EQ(rules[0].top, 100);
  EXPECT_EQ(rules[0].bottom, 103);
  EXPECT_DOUBLE_EQ(rules[0].center, 101.5);
}

TEST(RuleFinder, BridgesSmallGapsButNotLargeOnes) {
  Canvas c(400, 60);
  c.line(10, 390, 10, 2);
  c.fill(200, 10, 203, 12, 255);  // a 3-pixel break: bridged
  c.line(10, 390, 40, 2);
  c.fill(150, 40, 180, 42, 255);  // a 30-pixel break: two strokes of 140 and 210
  auto b = c.bytes(1);
  RuleOptions o;
  o.min_length = 200;
  std::vector<Rule> rules = find_rules(c.view(b, 1), o);
  ASSERT_EQ(rules.size(), 2u);
  EXPECT_EQ(rules[0].x1 - rules[0].x0, 380);
  EXPECT_EQ(rules[1].x0, 180);
  EXPECT_EQ(rules[1].x1, 390);
}

TEST(RuleFinder, JoinsTheFaintlyBrokenPartsOfARule) {
  Canvas c(900, 60);
  c.line(0, 900, 20, 2);
  c.fill(300, 20, 308, 22, 255);  // breaks of 8 pixels, beyond max_gap
  c.fill(600, 20, 608, 22, 255);
  c.fill(100, 45, 160, 47);  // a glyph's stroke below: not part of it
  auto b = c.bytes(1);
  RuleOptions o;
  o.min_length = 500;
  std::vector<Rule> rules = find_rules(c.view(b, 1), o);
  ASSERT_EQ(rules.size(), 1u);
  EXPECT_EQ(rules[0].x0, 0);
  EXPECT_EQ(rules[0].x1, 900);
  EXPECT_EQ(rules[0].bottom, 22);
}

TEST(RuleFinder, FollowsASkewedRuleAsOne) {
  Canvas c(1000, 100);
  c.line(0, 1000, 30, 3, 0.01);  // about 0.6 degrees: climbs 10 rows
  auto b = c.bytes(1);
  std::vector<Rule> rules = find_rules(c.view(b, 1));
  ASSERT_EQ(rules.size(), 1u);
  EXPECT_EQ(rules[0].x0, 0);
  EXPECT_EQ(rules[0].x1, 1000);
  EXPECT_EQ(rules[0].top, 30);
  EXPECT_EQ(rules[0].bottom, 42);
  EXPECT_NEAR(rules[0].center, 36.5, 0.6);
}

TEST(RuleFinder, SteepStrokesAndBlocksAreNotRules) {
  Canvas c(400, 400);
  for (int x = 0; x < 300; ++x) c.fill(x, x, x + 1, x + 2);  // 45 degrees
  c.fill(300, 100, 340, 300);                                // a dark block narrower than a rule
  auto b = c.bytes(1);
  EXPECT_TRUE(find_rules(c.view(b, 1)).empty());
}

TEST(RuleFinder, EveryChannelLayoutAndStrideReadsAlike) {
  Canvas c(300, 50);
  c.line(20, 280, 25, 2);
  for (int channels = 1; channels <= 4; ++channels) {
    for (int pad : {0, 5}) {
      auto b = c.bytes(channels, pad);
      std::vector<Rule> rules = find_rules(c.view(b, channels, pad));
      ASSERT_EQ(rules.size(), 1u) << channels << " channels, pad " << pad;
      EXPECT_EQ(rules[0].x0, 20);
      EXPECT_EQ(rules[0].x1, 280);
      EXPECT_DOUBLE_EQ(rules[0].center, 26.0);
    }
  }
}

TEST(RuleFinder, LightLinesAndEmptyImagesGiveNoRule) {
  Canvas c(300, 50);
  c.fill(10, 20, 290, 22, 200);  // lighter than the dark threshold
  auto b = c.bytes(1);
  EXPECT_TRUE(find_rules(c.view(b, 1)).empty());
  Canvas blank(1, 1);
  auto one = blank.bytes(1);
  EXPECT_TRUE(find_rules(blank.view(one, 1)).empty());
}

TEST(RuleFinder, RefusesRastersThatDoNotFitTheirBuffer) {
  Canvas c(10, 10);
  auto b = c.bytes(3);
  Raster good = c.view(b, 3);
  EXPECT_EQ(raster_problem(good), nullptr);
  auto broken = [&](auto change) {
    Raster r = good;
    change(r);
    EXPECT_NE(raster_problem(r), nullptr);
    EXPECT_THROW(find_rules(r), std::invalid_argument);
  };
  broken([](Raster& r) { r.width = 0; });
  broken([](Raster& r) { r.height = -1; });
  broken([](Raster& r) { r.channels = 5; });
  broken([](Raster& r) { r.channels = 0; });
  broken([](Raster& r) { r.stride = 29; });
  broken([](Raster& r) { r.size -= 1; });
  broken([](Raster& r) { r.height = 11; });
  broken([](Raster& r) { r.samples = nullptr; });
}

}  // namespace
}  // namespace quorl::pdf
