// Row-by-row longest-match search over a range, in difflib's visiting order.
#include "quorl/align/row_search.hpp"

#include <algorithm>

namespace quorl::align {

namespace {

// The best match of one row, and the rule that keeps difflib's answer: a row's longest common
// suffix counts only if it beats every earlier row strictly; within a row the smallest j wins.
// Rows are walked from high j to low j (so a row reads the previous row's entry at j - 1 before
// overwriting it), hence ">=" keeps the smallest j.
struct RowBest {
  std::size_t len = 0, j = 0;
  void offer(std::size_t k, std::size_t at) {
    if (k >= len) len = k, j = at;
  }
};

void settle(const RowBest& row, std::size_t i, Match& best) {
  if (row.len > best.size) best = {i + 1 - row.len, row.j + 1 - row.len, row.len};
}

}  // namespace

RowSearch::RowSearch(Text a, Text b) : a_(a), b_(b) {}

RowSearch::~RowSearch() = default;

Match RowSearch::search_pairs(const Range& r, std::size_t bound) {
  // Two rows of common suffix lengths over the b range, shifted by one so that column 0 reads as
  // the empty suffix before blo. Walking (i, j) in increasing order and keeping strictly longer
  // matches only gives difflib's choice among equally long ones.
  const std::size_t sb = r.bhi - r.blo;
  prev_row_.assign(sb + 1, 0);
  cur_row_.assign(sb + 1, 0);
  Match best{r.alo, r.blo, 0};
  for (std::size_t i = r.alo; i < r.ahi; ++i) {
    const char32_t c = a_[i];
    for (std::size_t x = 0; x < sb; ++x) {
      const std::size_t k = b_[r.blo + x] == c ? prev_row_[x] + 1 : 0;
      cur_row_[x + 1] = k;
      if (k > best.size) {
        best = {i + 1 - k, r.blo + x + 1 - k, k};
        if (k >= bound) return best;
      }
    }
    prev_row_.swap(cur_row_);
  }
  return best;
}

bool RowSearch::search_occurrences(const Range& r, std::size_t bound, std::size_t budget,
                                   Match& out) {
  if (!occurrences_) {
    occurrences_ = std::make_unique<OccurrenceTable>(b_);
    row_of_.assign(b_.size(), 0);
    len_at_.assign(b_.size(), 0);
  }
  Match best{r.alo, r.blo, 0};
  std::size_t work = 0;
  start_search();
  for (std::size_t i = r.alo; i < r.ahi && best.size < bound; ++i) {
    start_row();
    RowBest row;
    OccurrenceTable::Positions all = occurrences_->positions(a_[i]);
    const std::size_t* first = std::lower_bound(all.first, all.last, r.blo);
    const std::size_t* last = std::lower_bound(first, all.last, r.bhi);
    // Counting a row's visits before making them keeps `work` from passing the budget.
    const std::size_t visits = static_cast<std::size_t>(last - first) + 1;
    if (visits > budget - work) return false;
    work += visits;
    while (last != first) {
      const std::size_t j = *--last;
      row.offer(extend(j, r.blo), j);
    }
    settle(row, i, best);
  }
  out = best;
  return true;
}

}  // namespace quorl::align
