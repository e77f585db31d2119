// Position bookkeeping over the markers of a marked text.
#include "quorl/html/marker_index.hpp"

#include <unordered_map>

namespace quorl::html {

namespace {

// The first three "|"-separated fields of text[from:to]; `count` says how many there are (at
// most 3, the rest is not looked at).
struct Fields {
  Piece field[3];
  int count = 0;
};

Fields split_fields(Text text, std::size_t from, std::size_t to) {
  Fields f;
  std::size_t begin = from;
  for (std::size_t i = from; i <= to && f.count < 3; ++i) {
    if (i == to || text[i] == kFieldSeparator) {
      f.field[f.count++] = {begin, i};
      begin = i + 1;
    }
  }
  return f;
}

bool is_word(Text text, Piece p, std::u32string_view word) {
  return p.of(text) == word;
}

}  // namespace

std::vector<MarkedElement> index_markers(Text text, const std::vector<MarkerSpan>& markers) {
  std::vector<MarkedElement> records;
  std::unordered_map<std::u32string_view, std::size_t> by_id;
  std::size_t removed = 0;  // length of the markers before the current one
  for (const MarkerSpan& m : markers) {
    const Fields f = split_fields(text, m.start + kMarkerOpen.size(), m.end - kMarkerClose.size());
    const auto position = static_cast<std::int64_t>(m.start - removed);
    if (is_word(text, f.field[0], kStartWord)) {
      if (f.count < 3) throw MarkerTooShort();
      MarkedElement rec{f.field[2], f.field[1], position, -1};
      auto [it, fresh] = by_id.emplace(f.field[2].of(text), records.size());
      if (fresh) {
        records.push_back(rec);
      } else {
        records[it->second] = rec;
      }
    } else if (is_word(text, f.field[0], kEndWord)) {
      if (f.count < 3) throw MarkerTooShort();
      auto it = by_id.find(f.field[2].of(text));
      if (it == by_id.end()) throw EndWithoutStart(f.field[2]);
      records[it->second].end = position;
    }
    removed += m.end - m.start;
  }
  return records;
}

bool marker_carries(Text tagname, Text id) {
  const std::u32string marker = write_marker(kStartWord, tagname, id);
  const std::vector<MarkerSpan> spans = find_markers(marker);
  if (spans.size() != 1 || !(spans[0] == MarkerSpan{0, marker.size()})) return false;
  const Fields f = split_fields(marker, kMarkerOpen.size(), marker.size() - kMarkerClose.size());
  return f.count == 3 && f.field[1].of(marker) == tagname && f.field[2].of(marker) == id;
}

}  // namespace quorl::html
