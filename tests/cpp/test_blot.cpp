// GoogleTest cases of has_blot: what a blank scan holds (paper of any shade, specks) against
// the smallest printed mark, in every pixel layout, and rasters that must be refused.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "canvas.hpp"
#include "quorl/pdf/blot.hpp"

namespace quorl::pdf {
namespace {

struct BlotCase {
  const char* name;
  std::uint8_t paper;
  std::vector<std::vector<int>> fills;  // x0, y0, x1, y1, value
  bool blot;
};

class Blot : public ::testing::TestWithParam<BlotCase> {};

TEST_P(Blot, TellsPrintFromPaperAndSpecks) {
  const BlotCase& c = GetParam();
  Canvas canvas(120, 90);
  canvas.fill(0, 0, 120, 90, c.paper);
  for (const auto& f : c.fills)
    canvas.fill(f[0], f[1], f[2], f[3], static_cast<std::uint8_t>(f[4]));
  for (int channels : {1, 2, 3, 4}) {
    auto bytes = canvas.bytes(channels, 5);
    EXPECT_EQ(has_blot(canvas.view(bytes, channels, 5)), c.blot) << c.name << " " << channels;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pages, Blot,
    ::testing::Values(BlotCase{"white", 255, {}, false}, BlotCase{"grey paper", 170, {}, false},
                      // Specks of three pixels, one of them touching the page's edge.
                      BlotCase{"specks",
                               240,
                               {{10, 10, 11, 13, 0}, {50, 40, 52, 41, 0}, {119, 89, 120, 90, 0}},
                               false},
                      // Two specks that touch only at a corner make one blot of four.
                      BlotCase{"diagonal", 240, {{10, 10, 12, 11, 0}, {12, 11, 14, 12, 0}}, true},
                      BlotCase{"a stroke", 240, {{60, 30, 61, 34, 0}}, true},
                      // Darker than the paper, but not by the contrast: a shadow, no print.
                      BlotCase{"shadow", 230, {{0, 0, 120, 8, 190}}, false},
                      BlotCase{"faint print on grey", 180, {{30, 30, 40, 33, 100}}, true},
                      // Half the page printed black: its paper is still the brightest tenth.
                      BlotCase{"half black", 250, {{0, 0, 120, 45, 0}}, true}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& ch : name)
        if (ch == ' ') ch = '_';
      return name;
    });

TEST(Blot, PaperLevelIsTheBrightestTenth) {
  Canvas canvas(10, 10);
  canvas.fill(0, 0, 10, 9, 100);  // 90 pixels at 100, 10 at 255
  auto bytes = canvas.bytes(1);
  EXPECT_EQ(paper_level(canvas.view(bytes, 1)), 100);
  Canvas brighter(10, 10);
  brighter.fill(0, 0, 10, 8, 100);  // 80 at 100, 20 at 255
  bytes = brighter.bytes(1);
  EXPECT_EQ(paper_level(brighter.view(bytes, 1)), 255);
}

TEST(Blot, RefusesRastersThatDoNotFitTheirBuffer) {
  std::vector<std::uint8_t> bytes(10, 255);
  EXPECT_THROW(has_blot(Raster{bytes.data(), bytes.size(), 5, 3, 5, 1}), std::invalid_argument);
  EXPECT_THROW(has_blot(Raster{bytes.data(), bytes.size(), 0, 1, 5, 1}), std::invalid_argument);
}

}  // namespace
}  // namespace quorl::pdf
