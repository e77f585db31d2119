#include "quorl/pdf/ink_box.hpp"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace quorl::pdf {

std::optional<PixelBox> ink_box(const Raster& raster, PixelBox within, const InkOptions& options) {
  if (const char* problem = raster_problem(raster)) throw std::invalid_argument(problem);
  const int x0 = std::clamp(within.x0, 0, raster.width);
  const int x1 = std::clamp(within.x1, 0, raster.width);
  const int y0 = std::clamp(within.y0, 0, raster.height);
  const int y1 = std::clamp(within.y1, 0, raster.height);
  if (x0 >= x1 || y0 >= y1) return std::nullopt;
  std::vector<int> columns(static_cast<std::size_t>(x1 - x0));
  std::vector<int> rows(static_cast<std::size_t>(y1 - y0));
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      if (gray_at(raster, x, y) < options.dark) {
        ++columns[static_cast<std::size_t>(x - x0)];
        ++rows[static_cast<std::size_t>(y - y0)];
      }
    }
  }
  const int enough = std::max(1, options.min_dark);
  auto inked = [enough](int count) { return count >= enough; };
  auto first_column = std::find_if(columns.begin(), columns.end(), inked);
  auto first_row = std::find_if(rows.begin(), rows.end(), inked);
  if (first_column == columns.end() || first_row == rows.end()) return std::nullopt;
  auto last_column = std::find_if(columns.rbegin(), columns.rend(), inked);
  auto last_row = std::find_if(rows.rbegin(), rows.rend(), inked);
  PixelBox box;
  box.x0 = x0 + static_cast<int>(first_column - columns.begin());
  box.x1 = x1 - static_cast<int>(last_column - columns.rbegin());
  box.y0 = y0 + static_cast<int>(first_row - rows.begin());
  box.y1 = y1 - static_cast<int>(last_row - rows.rbegin());
  return box;
}

}  // namespace quorl::pdf
