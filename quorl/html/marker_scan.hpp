// The position markers of a marked document text: writing them, finding and removing them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorl::html {

using Text = std::u32string_view;

// Every marker opens and closes with these, and its fields are separated by kFieldSeparator.
inline constexpr Text kMarkerOpen = U"##@";
inline constexpr Text kMarkerClose = U"@##";
inline constexpr char32_t kFieldSeparator = U'|';
// The first field of the markers written before and after an element's content.
inline constexpr Text kStartWord = U"start";
inline constexpr Text kEndWord = U"end";

// The marker "##@<word>|<tagname>|<id>@##", the form find_markers finds and index_markers reads.
std::u32string write_marker(Text word, Text tagname, Text id);

// One marker: text[start:end] opens with "##@" and closes with "@##".
struct MarkerSpan {
  std::size_t start, end;
  bool operator==(const MarkerSpan& o) const { return start == o.start && end == o.end; }
};

// The markers of `text` in text order, exactly the matches re.finditer("##@.*?@##", text) gives:
// each marker closes at the first "@##" after its opening "##@", and a marker cannot span a
// newline, so an opening whose closing lies beyond a newline is no marker. Linear time.
std::vector<MarkerSpan> find_markers(Text text);

// `text` without its markers, as re.sub("##@.*?@##", "", text) gives it.
std::u32string remove_markers(Text text);

// `text` without the given markers, which must be ordered and non-overlapping.
std::u32string remove_spans(Text text, const std::vector<MarkerSpan>& markers);

}  // namespace quorl::html
