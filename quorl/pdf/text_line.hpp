// A line of a page's text as the core sees it: where it stands and what each of its characters is.
#pragma once

#include <cstddef>
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

// Parts each pair of overlapping glyph boxes of a line where one glyph ends and the next begins,
// and returns the indexes of the boxes changed, ascending. Older publications set full-width
// punctuation half-width while the font still reports a full em for it, so a box would claim
// part of its neighbour, in rectangles drawn over the text and in what a reader's highlight
// selects. Most punctuation (，。、；：）” ...) stands in the left half of its em: its box ends
// where the next glyph begins. Opening punctuation (（“《 ...) stands in the right half: its
// box begins where the glyph before it ends, or halfway into the overlap after punctuation of
// the first kind, the two then sharing one em. Blanks print nothing: a box is not cut for one.
// A box the next one starts at or before (the same box, text drawn twice, the next piece of a
// band further left) is kept, and boxes that do not overlap (by more than a hundredth of a
// point, which is rounding) are not touched.
std::vector<std::size_t> part_overlapping_boxes(std::vector<Glyph>& glyphs);

}  // namespace quorl::pdf
