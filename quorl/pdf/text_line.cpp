// A line of a page's text as the core sees it: where it stands and what each of its characters is.
#include "quorl/pdf/text_line.hpp"

#include <algorithm>
#include <string_view>

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

constexpr std::u32string_view kOpening = U"（“‘《〈「『【〔〖［｛";
constexpr std::u32string_view kClosing = U"，。、；：！？）”’》〉」』】〕〗］｝．";

bool among(std::u32string_view set, char32_t c) {
  return set.find(c) != std::u32string_view::npos;
}

bool blank(char32_t c) {
  return c == U' ' || c == U'\u00a0' || c == U'\u3000' || c == U'\t';
}

}  // namespace

std::vector<std::size_t> part_overlapping_boxes(std::vector<Glyph>& glyphs) {
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i + 1 < glyphs.size(); ++i) {
    std::size_t j = i + 1;
    if (!blank(glyphs[i].code_point)) {
      while (j + 1 < glyphs.size() && blank(glyphs[j].code_point)) ++j;
      if (blank(glyphs[j].code_point)) continue;
    }
    Box& box = glyphs[i].box;
    Box& next = glyphs[j].box;
    if (!(box.x0 < next.x0 && next.x0 < box.x1 - kRounding)) continue;
    // A blank's box is cut; the glyph after it keeps its own.
    if (blank(glyphs[i].code_point) || !among(kOpening, glyphs[j].code_point)) {
      box.x1 = next.x0;
      changed.push_back(i);
    } else if (among(kClosing, glyphs[i].code_point)) {
      box.x1 = next.x0 = (next.x0 + box.x1) / 2;
      changed.insert(changed.end(), {i, j});
    } else {
      next.x0 = std::min(box.x1, next.x1);
      changed.push_back(j);
    }
  }
  std::sort(changed.begin(), changed.end());
  changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
  return changed;
}

}  // namespace quorl::pdf
