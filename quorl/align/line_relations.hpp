// Line bookkeeping of an alignment: line start offsets, merging equal stretches into span
// pairs, and cutting equal stretches at the line boundaries of both sides.
#pragma once

#include <cstdint>
#include <vector>

#include "quorl/align/spans.hpp"

namespace quorl::align {

// An equal stretch: a[i1:i2] == b[j1:j2].
struct EqualStretch {
  std::int64_t i1, i2, j1, j2;
};

// A piece of an equal stretch lying within one a line and one b line, offsets counted from the
// starts of those lines.
struct LinePair {
  std::int64_t a_line, a_from, a_to;
  std::int64_t b_line, b_from, b_to;
};

// Line start offsets: 0, then the running total of the lengths.
std::vector<std::int64_t> line_index(const std::vector<std::int64_t>& lengths);

// Joins consecutive stretches whose gaps on both sides are equal and at most `interval`
// (`interval_at_most(gap)` decides the second test, so the caller may compare against any
// number), giving the span pairs of the alignment.
template <typename IntervalTest>
std::vector<SpanPair> merge_equal_stretches(const std::vector<EqualStretch>& stretches,
                                            IntervalTest&& gap_fits) {
  std::vector<SpanPair> merged;
  if (stretches.empty()) return merged;
  SpanPair cur{{stretches[0].i1, stretches[0].i2}, {stretches[0].j1, stretches[0].j2}};
  for (std::size_t k = 1; k < stretches.size(); ++k) {
    const EqualStretch& s = stretches[k];
    const __int128 gap_a = static_cast<__int128>(s.i1) - cur.a.end;
    const __int128 gap_b = static_cast<__int128>(s.j1) - cur.b.end;
    if (gap_a == gap_b && gap_fits(gap_a)) {
      cur.a.end = s.i2;
      cur.b.end = s.j2;
    } else {
      merged.push_back(cur);
      cur = {{s.i1, s.i2}, {s.j1, s.j2}};
    }
  }
  merged.push_back(cur);
  return merged;
}

// Cuts every equal stretch at the line boundaries of both sides. Throws std::out_of_range when
// the stretches do not fit the offsets (a caller's opcode list that is not this alignment's).
std::vector<LinePair> split_at_lines(const std::vector<EqualStretch>& stretches,
                                     const std::vector<std::int64_t>& a_index,
                                     const std::vector<std::int64_t>& b_index);

}  // namespace quorl::align
