// A line of a page's text as the core sees it: where it stands and what each of its characters is.
#include "quorl/pdf/text_line.hpp"

namespace quorl::pdf {

std::u32string text_of(const TextLine& line) {
  std::u32string text;
  text.reserve(line.glyphs.size());
  for (const Glyph& glyph : line.glyphs) text.push_back(glyph.code_point);
  return text;
}

}  // namespace quorl::pdf
