// Where the lines of a newline-joined text begin, over its code points.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace quorl::align {

// The indexes of the newlines of `text`, ascending. A template over the code unit width, so the
// binding reads the interpreter's str storage in place, whichever width it has.
template <typename Char>
std::vector<std::int64_t> newline_positions(std::basic_string_view<Char> text) {
  std::vector<std::int64_t> positions;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == Char('\n')) positions.push_back(static_cast<std::int64_t>(i));
  }
  return positions;
}

// The offsets at which the lines start in the text with its newlines left out, then that text's
// length: one entry more than there are lines, the form convert_span2lines reads.
template <typename Char>
std::vector<std::int64_t> line_starts(std::basic_string_view<Char> text) {
  const std::vector<std::int64_t> newlines = newline_positions(text);
  std::vector<std::int64_t> starts;
  starts.reserve(newlines.size() + 2);
  starts.push_back(0);
  // The k-th newline stands after k newlines that the joined-up text leaves out.
  for (std::size_t k = 0; k < newlines.size(); ++k) {
    starts.push_back(newlines[k] - static_cast<std::int64_t>(k));
  }
  starts.push_back(static_cast<std::int64_t>(text.size() - newlines.size()));
  return starts;
}

}  // namespace quorl::align
