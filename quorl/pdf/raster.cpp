#include "quorl/pdf/raster.hpp"

namespace quorl::pdf {

const char* raster_problem(const Raster& r) {
  if (r.width <= 0 || r.height <= 0) return "width and height must be positive";
  if (r.channels < 1 || r.channels > 4) return "channels must be 1 to 4";
  if (r.samples == nullptr) return "no samples";
  if (static_cast<std::int64_t>(r.width) * r.channels > r.stride)
    return "stride is shorter than width x channels";
  if (static_cast<std::uint64_t>(r.stride) * (r.height - 1) +
          static_cast<std::uint64_t>(r.width) * r.channels >
      r.size)
    return "the samples are shorter than height rows of stride bytes";
  return nullptr;
}

}  // namespace quorl::pdf
