// Element positions measured from the position markers of a marked document text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "quorl/html/marker_scan.hpp"

namespace quorl::html {

// A piece of the marked text, text[start:end].
struct Piece {
  std::size_t start, end;
  Text of(Text text) const { return text.substr(start, end - start); }
};

// The position of one marked element in the text without markers. `end` is -1 while no end
// marker has been seen.
struct MarkedElement {
  Piece id;    // third field of the marker
  Piece type;  // second field of the start marker
  std::int64_t start;
  std::int64_t end;
};

// A start or end marker with fewer than three "|"-separated fields.
class MarkerTooShort : public std::runtime_error {
 public:
  MarkerTooShort() : std::runtime_error("list index out of range") {}
};

// An end marker whose id has had no start marker before it.
class EndWithoutStart : public std::runtime_error {
 public:
  explicit EndWithoutStart(Piece id) : std::runtime_error("end marker without start"), id(id) {}
  Piece id;
};

// Walks the markers in text order: "start" records the element under its id (a later start with
// the same id replaces the record but keeps its place in the order), "end" sets the end of the
// recorded element, other words are passed over. Positions count the text with every marker
// removed. Records come back in the order their ids were first started.
std::vector<MarkedElement> index_markers(Text text, const std::vector<MarkerSpan>& markers);

// Whether the start marker written with `tagname` and `id` reads back as one marker holding
// exactly these fields. A newline or "@##" in the id cuts the marker short and a "|" splits the
// id, so such an id cannot travel in a marker.
bool marker_carries(Text tagname, Text id);

}  // namespace quorl::html
