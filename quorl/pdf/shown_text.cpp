// Offsets of the whole PDF text, which leaves some characters out, against a line's characters.
#include "quorl/pdf/shown_text.hpp"

namespace quorl::pdf {

std::vector<std::size_t> shown_indexes(std::u32string_view line, std::u32string_view hidden) {
  std::vector<std::size_t> shown;
  shown.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (hidden.find(line[i]) == std::u32string_view::npos) shown.push_back(i);
  }
  return shown;
}

}  // namespace quorl::pdf
