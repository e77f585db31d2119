// Line bookkeeping of an alignment.
#include "quorl/align/line_relations.hpp"

#include <algorithm>
#include <stdexcept>

namespace quorl::align {

namespace {

// Offset list access with the index check a Python list would make.
std::int64_t at(const std::vector<std::int64_t>& index, std::int64_t i) {
  if (i < 0 || static_cast<std::size_t>(i) >= index.size())
    throw std::out_of_range("list index out of range");
  return index[static_cast<std::size_t>(i)];
}

std::int64_t sub(std::int64_t x, std::int64_t y) {
  std::int64_t r;
  if (__builtin_sub_overflow(x, y, &r)) throw std::overflow_error("offset out of range");
  return r;
}

}  // namespace

std::vector<std::int64_t> line_index(const std::vector<std::int64_t>& lengths) {
  std::vector<std::int64_t> index{0};
  index.reserve(lengths.size() + 1);
  std::int64_t total = 0;
  for (std::int64_t len : lengths) {
    if (__builtin_add_overflow(total, len, &total))
      throw std::overflow_error("length out of range");
    index.push_back(total);
  }
  return index;
}

std::vector<LinePair> split_at_lines(const std::vector<EqualStretch>& stretches,
                                     const std::vector<std::int64_t>& a_index,
                                     const std::vector<std::int64_t>& b_index) {
  std::vector<LinePair> pieces;
  // Cursors into the offset lists: the current line of a side is cursor - 1, and its end is
  // index[cursor]. They only move forward, so the walk is one pass.
  std::int64_t aidx = 1, bidx = 1;
  for (const EqualStretch& es : stretches) {
    std::int64_t ab = es.i1, bb = es.j1;
    const std::int64_t ae = es.i2;
    while (ab > at(a_index, aidx)) ++aidx;
    while (bb > at(b_index, bidx)) ++bidx;
    if (ab == ae) continue;
    while (ae > ab) {
      const std::int64_t len_a = sub(at(a_index, aidx), ab);
      const std::int64_t len_b = sub(at(b_index, bidx), bb);
      if (len_a <= 0) {
        ++aidx;
        continue;
      }
      if (len_b <= 0) {
        ++bidx;
        continue;
      }
      const std::int64_t increase = std::min({len_a, len_b, sub(ae, ab)});
      const std::int64_t a_from = sub(ab, at(a_index, aidx - 1));
      const std::int64_t b_from = sub(bb, at(b_index, bidx - 1));
      pieces.push_back({aidx - 1, a_from, a_from + increase, bidx - 1, b_from, b_from + increase});
      ab += increase;
      bb += increase;
      if (sub(at(a_index, aidx), ab) <= 0) ++aidx;
      if (sub(at(b_index, bidx), bb) <= 0) ++bidx;
    }
  }
  return pieces;
}

}  // namespace quorl::align
