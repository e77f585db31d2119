// The recursion over ranges: best clipped run, exact search fallback, runs handed to subranges.
#include "quorl/align/block_finder.hpp"

#include <algorithm>
#include <limits>

namespace quorl::align {

namespace {

constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max();

// per_char * chars + extra, or kUnbounded where that does not fit.
std::size_t budget_for(std::size_t per_char, std::size_t chars, std::size_t extra) {
  if (per_char != 0 && chars > (kUnbounded - extra) / per_char) return kUnbounded;
  return per_char * chars + extra;
}

// The part of `run` inside `r`; length 0 when they do not meet. Positions are shifted before
// comparing so that nothing is subtracted below zero.
Run clip(const Run& run, const Range& r) {
  if (run.i >= r.ahi || run.j >= r.bhi) return {run.i, run.j, 0};
  std::size_t skip = 0;
  if (r.alo > run.i) skip = r.alo - run.i;
  if (r.blo > run.j) skip = std::max(skip, r.blo - run.j);
  const std::size_t end = std::min({run.len, r.ahi - run.i, r.bhi - run.j});
  if (end <= skip) return {run.i, run.j, 0};
  return {run.i + skip, run.j + skip, end - skip};
}

// difflib's preference: longer, then smaller a position, then smaller b position.
bool better(const Run& c, const Match& best) {
  if (c.len != best.size) return c.len > best.size;
  return c.i < best.a_start || (c.i == best.a_start && c.j < best.b_start);
}

}  // namespace

BlockFinder::BlockFinder(Text a, Text b, const MatcherOptions& options)
    : a_(a), b_(b), options_(options), min_run_(kUnbounded), rows_(a, b) {}

void BlockFinder::index_runs() {
  const std::size_t budget = budget_for(options_.run_budget_per_char, a_.size() + b_.size(), 1024);
  for (std::size_t len : options_.run_lengths) {
    if (len == 0) continue;
    if (find_runs(a_, b_, len, budget, runs_)) {
      min_run_ = len;
      return;
    }
  }
}

Match BlockFinder::best_run(const Frame& f) const {
  Match best{f.range.alo, f.range.blo, 0};
  for (std::size_t k = f.run_lo; k < f.run_hi; ++k) {
    const Run c = clip(runs_[k], f.range);
    if (c.len && better(c, best)) best = {c.i, c.j, c.len};
  }
  return best;
}

Match BlockFinder::search_range(const Range& r, std::size_t bound) {
  const std::size_t sa = r.ahi - r.alo, sb = r.bhi - r.blo;
  if (sa <= options_.pair_search_area / sb) return rows_.search_pairs(r, bound);
  Match best{r.alo, r.blo, 0};
  const std::size_t budget = budget_for(options_.occurrence_budget_per_char, sa + sb, 64);
  if (rows_.search_occurrences(r, bound, budget, best)) return best;
  if (std::min(sa, sb) < SuffixAutomaton::kMaxLength)
    return automaton_.longest_match(a_, b_, r, bound);
  rows_.search_occurrences(r, bound, kUnbounded, best);
  return best;
}

std::size_t BlockFinder::split_runs(const Frame& f, const Range* left, const Range* right) {
  std::size_t w = f.run_lo;
  spill_.clear();
  for (std::size_t k = f.run_lo; k < f.run_hi; ++k) {
    // A run cannot reach into both: it would hold a common substring of the frame's range
    // longer than the match between them.
    if (left) {
      const Run c = clip(runs_[k], *left);
      if (c.len) {
        runs_[w++] = c;
        continue;
      }
    }
    if (right) {
      const Run c = clip(runs_[k], *right);
      if (c.len) spill_.push_back(c);
    }
  }
  std::copy(spill_.begin(), spill_.end(), runs_.begin() + static_cast<std::ptrdiff_t>(w));
  return w;
}

std::vector<Match> BlockFinder::find_blocks() {
  const std::size_t n = a_.size(), m = b_.size();
  std::vector<Match> found;
  if (n == 0 || m == 0) return found;
  index_runs();

  // Pending frames own disjoint slices of runs_, so a frame's runs are split in place.
  std::vector<Frame> stack{{{0, n, 0, m}, 0, runs_.size(), std::min(n, m)}};
  while (!stack.empty()) {
    const Frame f = stack.back();
    stack.pop_back();
    Match best = best_run(f);
    if (best.size < min_run_) {
      // Runs decide only from min_run_ up: a shorter common substring may lie outside them.
      const std::size_t bound = std::min(f.bound, min_run_ - 1);
      if (bound > 0) best = search_range(f.range, bound);
    }
    if (best.size == 0) continue;
    found.push_back(best);

    const Range& r = f.range;
    const Range left{r.alo, best.a_start, r.blo, best.b_start};
    const Range right{best.a_start + best.size, r.ahi, best.b_start + best.size, r.bhi};
    const bool has_left = r.alo < best.a_start && r.blo < best.b_start;
    const bool has_right = right.alo < r.ahi && right.blo < r.bhi;
    const std::size_t mid = split_runs(f, has_left ? &left : nullptr, has_right ? &right : nullptr);
    // Each part holds no common substring longer than the match just found.
    if (has_left) stack.push_back({left, f.run_lo, mid, best.size});
    if (has_right) stack.push_back({right, mid, mid + spill_.size(), best.size});
  }
  return found;
}

}  // namespace quorl::align
