// A gray image the page-image tests paint on, viewed as a Raster with any pixel layout.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "quorl/pdf/raster.hpp"

namespace quorl::pdf {

// A white gray image that tests paint on, viewed as a Raster with any channel count.
struct Canvas {
  int width, height;
  std::vector<std::uint8_t> gray;
  Canvas(int w, int h) : width(w), height(h), gray(static_cast<std::size_t>(w) * h, 255) {}

  void fill(int x0, int y0, int x1, int y1, std::uint8_t value = 0) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) gray[static_cast<std::size_t>(y) * width + x] = value;
  }
  // A line of `thickness` rows from (x0, y) rightwards, falling by `slope` rows per pixel.
  void line(int x0, int x1, double y, int thickness, double slope = 0) {
    for (int x = x0; x < x1; ++x) {
      int top = static_cast<int>(std::floor(y + slope * (x - x0)));
      fill(x, top, x + 1, top + thickness);
    }
  }

  // The pixels with `channels` bytes each and `pad` bytes after every row.
  std::vector<std::uint8_t> bytes(int channels, int pad = 0) const {
    std::vector<std::uint8_t> out;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < channels; ++c) {
          // An alpha channel is opaque; colour channels repeat the gray value.
          bool alpha = (channels == 2 && c == 1) || (channels == 4 && c == 3);
          out.push_back(alpha ? 255 : gray[static_cast<std::size_t>(y) * width + x]);
        }
      out.insert(out.end(), pad, 0);
    }
    return out;
  }
  Raster view(const std::vector<std::uint8_t>& b, int channels, int pad = 0) const {
    return Raster{b.data(), b.size(), width, height, width * channels + pad, channels};
  }
};

}  // namespace quorl::pdf
