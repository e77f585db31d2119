// A page image's pixels, as PyMuPDF's pixmaps hold them, for the scans of scanned pages.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorl::pdf {

// A page image's pixels as a raster scan: `height` rows of `stride` bytes, each row starting with
// `width` pixels of `channels` bytes (1: gray, 2: gray and alpha, 3: RGB, 4: RGB and alpha).
struct Raster {
  const std::uint8_t* samples = nullptr;
  std::size_t size = 0;  // bytes available at samples
  int width = 0;
  int height = 0;
  int stride = 0;
  int channels = 0;
};

// Why a raster cannot be scanned, or nullptr when it can: the sizes must be positive, the
// channels 1 to 4, a row must fit its stride and every row the buffer.
const char* raster_problem(const Raster& raster);

// The gray value of the pixel (x, y) of a raster without a raster_problem(), x and y inside it:
// Rec. 601 luma in integers; gray rasters give their one value.
inline int gray_at(const Raster& r, int x, int y) {
  const std::uint8_t* px =
      r.samples + static_cast<std::size_t>(y) * r.stride + static_cast<std::size_t>(x) * r.channels;
  return r.channels < 3 ? px[0] : (299 * px[0] + 587 * px[1] + 114 * px[2]) / 1000;
}

}  // namespace quorl::pdf
