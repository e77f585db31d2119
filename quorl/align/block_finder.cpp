// The recursion over ranges: best clipped run, exact search fallback, runs handed to subranges.
#include "quorl/align/block_finder.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <unordered_map>

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

// Predictions of run counts go no further: texts where runs this long are still too many to list
// are repetitive, not unrelated.
constexpr std::size_t kMaxPredictedLength = 8;

// How many position pairs (i, j) have a[i] == b[j]: the sum over characters of the product of
// their counts. Counts of the first plane go to a flat table, the rare others to a map.
std::size_t same_character_pairs(Text a, Text b) {
  std::vector<std::uint32_t> plane(0x10000, 0);
  std::unordered_map<char32_t, std::size_t> rare;
  for (char32_t c : a) {
    if (c < 0x10000) {
      ++plane[c];
    } else {
      ++rare[c];
    }
  }
  std::size_t pairs = 0;
  for (char32_t c : b) {
    if (c < 0x10000) {
      pairs += plane[c];
    } else if (auto it = rare.find(c); it != rare.end()) {
      pairs += it->second;
    }
  }
  return pairs;
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

bool BlockFinder::worth_listing_shorter(const Frame& f) const {
  if (!f.may_list_shorter || f.min_run <= 2 || f.bound < 2) return false;
  // Small ranges are searched faster than their runs are listed.
  const std::size_t sa = f.range.ahi - f.range.alo, sb = f.range.bhi - f.range.blo;
  return sa > options_.shorter_run_area / sb;
}

std::size_t BlockFinder::first_length_to_try(std::size_t sa, std::size_t sb, std::size_t budget) {
  if (pair_match_rate_ < 0) {
    pair_match_rate_ = static_cast<double>(same_character_pairs(a_, b_)) /
                       (static_cast<double>(a_.size()) * static_cast<double>(b_.size()));
  }
  std::size_t len = 2;
  double hits = static_cast<double>(sa) * static_cast<double>(sb) * pair_match_rate_;
  hits *= pair_match_rate_;
  while (len < kMaxPredictedLength && 2 * hits > static_cast<double>(budget)) {
    hits *= pair_match_rate_;
    ++len;
  }
  return len;
}

bool BlockFinder::list_shorter_runs(Frame& f) {
  const Range& r = f.range;
  const std::size_t sa = r.ahi - r.alo, sb = r.bhi - r.blo;
  const Text a = a_.substr(r.alo, sa), b = b_.substr(r.blo, sb);
  const std::size_t budget = budget_for(options_.run_budget_per_char, sa + sb, 1024);
  // No common substring of the range is longer than f.bound: no run that long to list.
  const std::size_t longest = std::min(f.min_run - 1, f.bound);
  for (std::size_t len = first_length_to_try(sa, sb, budget); len <= longest; ++len) {
    shorter_.clear();
    if (!find_runs(a, b, len, budget, shorter_)) continue;
    // Runs of the range's own texts end at its edges, as the frame's clipped runs do.
    f.run_lo = runs_.size();
    for (const Run& run : shorter_) runs_.push_back({run.i + r.alo, run.j + r.blo, run.len});
    f.run_hi = runs_.size();
    f.min_run = len;
    return true;
  }
  return false;
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
  // Without a run index (none asked for, or every listing over budget) no shorter one is tried.
  const bool indexed = min_run_ != kUnbounded;
  std::vector<Frame> stack{{{0, n, 0, m}, 0, runs_.size(), min_run_, std::min(n, m), indexed}};
  while (!stack.empty()) {
    Frame f = stack.back();
    stack.pop_back();
    Match best = best_run(f);
    if (best.size < f.min_run && worth_listing_shorter(f)) {
      if (list_shorter_runs(f)) {
        best = best_run(f);
      } else {
        f.may_list_shorter = false;
      }
    }
    if (best.size < f.min_run) {
      // Runs decide only from min_run up: a shorter common substring may lie outside them.
      const std::size_t bound = std::min(f.bound, f.min_run - 1);
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
    if (has_left) stack.push_back({left, f.run_lo, mid, f.min_run, best.size, f.may_list_shorter});
    if (has_right)
      stack.push_back({right, mid, mid + spill_.size(), f.min_run, best.size, f.may_list_shorter});
  }
  return found;
}

}  // namespace quorl::align
