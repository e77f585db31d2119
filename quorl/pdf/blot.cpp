#include "quorl/pdf/blot.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

namespace quorl::pdf {

int paper_level(const Raster& raster) {
  if (const char* problem = raster_problem(raster)) throw std::invalid_argument(problem);
  std::array<std::size_t, 256> histogram{};
  for (int y = 0; y < raster.height; ++y)
    for (int x = 0; x < raster.width; ++x)
      ++histogram[static_cast<std::size_t>(gray_at(raster, x, y))];
  // The value of the pixel ranked at 90% from the darkest.
  const std::size_t pixels = static_cast<std::size_t>(raster.width) * raster.height;
  const std::size_t rank = (pixels - 1) * 9 / 10;
  std::size_t seen = 0;
  for (int value = 0; value < 256; ++value) {
    seen += histogram[static_cast<std::size_t>(value)];
    if (seen > rank) return value;
  }
  return 255;
}

bool has_blot(const Raster& raster, const BlotOptions& options) {
  const int dark = paper_level(raster) - options.contrast;
  if (dark <= 0) return false;  // no pixel can be that much darker than this paper
  const int w = raster.width, h = raster.height;
  const std::size_t min_blot =
      static_cast<std::size_t>(options.min_blot < 1 ? 1 : options.min_blot);
  // 1 for ink not yet counted in a blot. Only ink is ever flooded, so a page of paper and
  // specks costs two passes over its pixels.
  std::vector<std::uint8_t> ink(static_cast<std::size_t>(w) * h);
  std::size_t inked = 0;
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = ink.data() + static_cast<std::size_t>(y) * w;
    for (int x = 0; x < w; ++x) {
      row[x] = gray_at(raster, x, y) < dark;
      inked += row[x];
    }
  }
  if (inked < min_blot) return false;
  std::vector<std::pair<int, int>> stack;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::uint8_t& start = ink[static_cast<std::size_t>(y) * w + x];
      if (!start) continue;
      start = 0;
      std::size_t size = 0;
      stack.assign(1, {x, y});
      while (!stack.empty()) {
        auto [px, py] = stack.back();
        stack.pop_back();
        if (++size >= min_blot) return true;
        for (int ny = std::max(py - 1, 0); ny <= std::min(py + 1, h - 1); ++ny) {
          for (int nx = std::max(px - 1, 0); nx <= std::min(px + 1, w - 1); ++nx) {
            std::uint8_t& next = ink[static_cast<std::size_t>(ny) * w + nx];
            if (!next) continue;
            next = 0;
            stack.emplace_back(nx, ny);
          }
        }
      }
    }
  }
  return false;
}

}  // namespace quorl::pdf
