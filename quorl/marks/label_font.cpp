// Deciding the font of a label from its text.
#include "quorl/marks/label_font.hpp"

namespace quorl::marks {

bool label_needs_cjk_font(std::u32string_view text) {
  for (char32_t c : text) {
    if (c > U'\u00ff') return true;
  }
  return false;
}

}  // namespace quorl::marks
