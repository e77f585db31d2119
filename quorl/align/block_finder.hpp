// difflib's recursive longest-match decomposition, answered from maximal runs or exact searches.
#pragma once

#include <cstddef>
#include <vector>

#include "quorl/align/row_search.hpp"
#include "quorl/align/run_index.hpp"
#include "quorl/align/sequence_matcher.hpp"
#include "quorl/align/suffix_automaton.hpp"

namespace quorl::align {

// difflib splits the texts at the longest common substring of a range (ties: smallest a
// position, then smallest b position) and recurses on the parts before and after it. Here the
// maximal runs of at least min_run_ characters are listed once for the whole pair; any common
// substring that long lies inside one of them, so a range whose best run, clipped to it, reaches
// min_run_ is answered from its runs alone. Other ranges are searched exactly, knowing that no
// common substring in them is longer than min_run_ - 1 or than the match of the range they were
// split from, which lets the search stop early.
//
// Texts that share little (two unrelated sections of a batch) hold no run of min_run_, and every
// range of their recursion would be searched exactly, each search as long as the range. A large
// range without a run of its frame's length lists its own shorter runs instead, once for all the
// ranges split from it.
class BlockFinder {
 public:
  BlockFinder(Text a, Text b, const MatcherOptions& options);

  // The blocks difflib's recursion finds, in no particular order, not yet joined.
  std::vector<Match> find_blocks();

 private:
  // A range of the recursion, with its runs at runs_[run_lo:run_hi] (clipped to the range), the
  // length from which they hold every common substring of the range, and a length no common
  // substring of the range exceeds. A frame whose shorter runs could not be listed within budget
  // does not ask again for the ranges split from it.
  struct Frame {
    Range range;
    std::size_t run_lo, run_hi;
    std::size_t min_run;
    std::size_t bound;
    bool may_list_shorter;
  };

  void index_runs();
  bool worth_listing_shorter(const Frame& f) const;
  // The shortest run length worth trying on a range: the first whose chance q-gram hits, were
  // the range's texts drawn independently with the whole texts' character frequencies, stay
  // well within `budget`. Saves a listing of too short runs spending its whole budget.
  std::size_t first_length_to_try(std::size_t sa, std::size_t sb, std::size_t budget);
  // Lists the runs of the frame's range of the shortest length from 2 up whose listing stays
  // within budget, and hands them to the frame; false when none does.
  bool list_shorter_runs(Frame& f);
  Match best_run(const Frame& f) const;
  Match search_range(const Range& r, std::size_t bound);
  // Moves the frame's runs that reach into `left` to the front of its slice and those that reach
  // into `right` after them, clipped; returns where the right ones start. Runs reaching neither
  // are dropped: no later range of the recursion meets them.
  std::size_t split_runs(const Frame& f, const Range* left, const Range* right);

  Text a_, b_;
  MatcherOptions options_;
  // Frames own disjoint slices; shorter runs listed for a frame are appended.
  std::vector<Run> runs_;
  // Every common substring at least this long lies inside a run of runs_.
  std::size_t min_run_;
  std::vector<Run> spill_, shorter_;
  // The share of position pairs of the two texts holding the same character; below 0: not yet
  // counted.
  double pair_match_rate_ = -1;
  RowSearch rows_;
  SuffixAutomaton automaton_;
};

}  // namespace quorl::align
