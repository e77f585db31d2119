// A line of a page's text as the core sees it: where it stands and what each of its characters is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quorl/pdf/box.hpp"

namespace quorl::pdf {

// One character of a line: its code point and the box it is drawn in.
struct Glyph {
  char32_t code_point = 0;
  Box box;
};

// A line in reading order. Lines are read in bands across the page, so the box runs from the
// left of the band's first piece to the right of its last, between the band's top and bottom;
// the glyphs are those of the pieces, left to right.
struct TextLine {
  std::int64_t page = 0;  // zero-based page number
  Box box;
  std::vector<Glyph> glyphs;
};

// The line's text: one code point per glyph, in order.
std::u32string text_of(const TextLine& line);

}  // namespace quorl::pdf
