// Span arithmetic over aligned texts: searching span lists, carrying spans and positions from
// side a to side b, and cutting spans into per-line pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace quorl::align {

// A half-open character span [start, end).
struct Span {
  std::int64_t start = 0;
  std::int64_t end = 0;
  bool operator==(const Span& o) const { return start == o.start && end == o.end; }
};

// Two spans of equal length that correspond: a[a.start + k] is b[b.start + k].
struct SpanPair {
  Span a;
  Span b;
  bool operator==(const SpanPair& o) const { return a == o.a && b == o.b; }
};

// The part of a span inside one line, as offsets from the line's start.
struct LinePiece {
  std::size_t line;
  std::int64_t from;
  std::int64_t to;
};

// Whether `length` common characters relate a line of `a_length` characters to one of
// `b_length`: at least two characters, making at least half of either line.
bool check_span(std::int64_t length, std::int64_t a_length, std::int64_t b_length);

// Binary search for the span holding `value` (both ends included) in an ascending span list,
// read through `start_at(i)` and `end_at(i)` so only the probed entries are looked at. Without
// `exact`, a miss gives the last span starting at or before `value` as the probes narrow it
// down, or -1 before the first span; with `exact`, a miss gives -1.
template <typename StartAt, typename EndAt>
std::int64_t span_binary_search(std::size_t count, StartAt&& start_at, EndAt&& end_at,
                                std::int64_t value, bool exact) {
  if (count == 0) return -1;
  std::int64_t maxidx = static_cast<std::int64_t>(count) - 1;
  std::int64_t minidx = 0;
  // Floor division keeps the probe order exact when maxidx drops to -1.
  auto middle = [&] {
    std::int64_t sum = maxidx + minidx;
    return sum >= 0 ? sum / 2 : -((-sum + 1) / 2);
  };
  std::int64_t tmpidx = middle();
  while (maxidx > minidx) {
    if (start_at(tmpidx) > value) {
      maxidx = tmpidx - 1;
    } else if (end_at(tmpidx) < value) {
      minidx = tmpidx + 1;
    } else {
      return tmpidx;
    }
    tmpidx = middle();
  }
  if (exact || tmpidx == -1) return -1;
  return start_at(tmpidx) > value ? tmpidx - 1 : tmpidx;
}

// span_binary_search over the a spans of a span pair list.
std::int64_t search_a_spans(const std::vector<SpanPair>& pairs, std::int64_t value);

// Carries the a span `sa` (start <= end) into b through `pairs`. The result's a span is `sa`
// clipped to the pairs it meets; nothing when it meets no equal stretch. The b span never holds a
// character aligned with an a character outside `sa`.
std::optional<SpanPair> convert_span_a2b(Span sa, const std::vector<SpanPair>& pairs);

// Carries position `posa` into b with the offset of the pair at or before it; -1 before the
// first pair.
std::int64_t convert_position_a2b(std::int64_t posa, const std::vector<SpanPair>& pairs);

// The pieces of `span` in each line it touches, `lineindex` holding the line start offsets
// (one entry more than there are lines).
std::vector<LinePiece> convert_span2lines(Span span, const std::vector<std::int64_t>& lineindex);

}  // namespace quorl::align
