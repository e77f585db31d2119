// Row-by-row longest-match search over a range, in difflib's visiting order.
#include "quorl/align/row_search.hpp"

#include <algorithm>

namespace quorl::align {

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
  row_ += 2;  // no row of an earlier search counts as this search's previous row
  for (std::size_t i = r.alo; i < r.ahi; ++i) {
    ++row_;
    OccurrenceTable::Positions all = occurrences_->positions(a_[i]);
    const std::size_t* first = std::lower_bound(all.first, all.last, r.blo);
    const std::size_t* last = std::lower_bound(first, all.last, r.bhi);
    // Counting a row's visits before making them keeps `work` from passing the budget.
    const std::size_t visits = static_cast<std::size_t>(last - first) + 1;
    if (visits > budget - work) return false;
    work += visits;
    // The entry at j is written only once the entry at j + 1 has read the previous row's value
    // there.
    std::size_t held_j = 0, held_k = 0;
    for (const std::size_t* p = first; p != last; ++p) {
      const std::size_t j = *p;
      std::size_t k = 1;
      if (j > r.blo && row_of_[j - 1] == row_ - 1) k += len_at_[j - 1];
      if (held_k) row_of_[held_j] = row_, len_at_[held_j] = held_k;
      held_j = j, held_k = k;
      // (i, j) grow in difflib's order, so keeping strictly longer matches keeps its choice.
      if (k > best.size) {
        best = {i + 1 - k, j + 1 - k, k};
        if (k >= bound) {
          out = best;
          return true;
        }
      }
    }
    if (held_k) row_of_[held_j] = row_, len_at_[held_j] = held_k;
  }
  out = best;
  return true;
}

}  // namespace quorl::align
