// A line of a page's text as the core sees it: where it stands and what each of its characters is.
#include "quorl/pdf/text_line.hpp"

namespace quorl::pdf {

std::u32string text_of(const TextLine& line) {
  std::u32string text;
  text.reserve(line.glyphs.size());
  for (const Glyph& glyph : line.glyphs) text.push_back(glyph.code_point);
  return text;
}

namespace {

// Positions written in single precision put boxes that touch up to a few hundred-thousandths of
// a point into each other; such boxes do not overlap.
constexpr double kRounding = 0.01;

}  // namespace

std::vector<std::size_t> end_boxes_at_next_glyph(std::vector<Glyph>& glyphs) {
  std::vector<std::size_t> cut;
  for (std::size_t i = 0; i + 1 < glyphs.size(); ++i) {
    Box& box = glyphs[i].box;
    const double next = glyphs[i + 1].box.x0;
    if (box.x0 < next && next < box.x1 - kRounding) {
      box.x1 = next;
      cut.push_back(i);
    }
  }
  return cut;
}

}  // namespace quorl::pdf
