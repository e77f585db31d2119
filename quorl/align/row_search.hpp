// difflib's own longest-match dynamic programme, on flat arrays, for small or easy ranges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "quorl/align/occurrence_table.hpp"
#include "quorl/align/sequence_matcher.hpp"

namespace quorl::align {

// Both searches give exactly difflib's answer for the range: the longest common substring, ties
// broken by the smallest a position, then the smallest b position ({alo, blo, 0} when none).
// `bound` is a length no common substring of the range exceeds; the search ends as soon as it
// holds a match that long, which is then the answer.
class RowSearch {
 public:
  RowSearch(Text a, Text b);
  ~RowSearch();

  // Compares every pair of positions: for ranges of a few thousand pairs.
  Match search_pairs(const Range& r, std::size_t bound);

  // Visits, for each position of a, only the occurrences of its character in the b range, as
  // difflib does. Returns false, with `out` unspecified, after more than `budget` visits.
  bool search_occurrences(const Range& r, std::size_t bound, std::size_t budget, Match& out);

 private:
  Text a_, b_;
  // The occurrence search keeps, for each b position j, the common suffix length ending at
  // (i, j) and the number of the row i that wrote it, so rows need no clearing. Row numbers only
  // grow; 64 bits do not wrap in any real run. Made on first use, sized to b.
  std::vector<std::uint64_t> row_of_;
  std::vector<std::size_t> len_at_;
  std::uint64_t row_ = 0;
  std::unique_ptr<OccurrenceTable> occurrences_;
  // The pair search's two rows.
  std::vector<std::size_t> prev_row_, cur_row_;
};

}  // namespace quorl::align
