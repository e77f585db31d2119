// Character alignment of two texts, giving exactly the opcodes of CPython's
// difflib.SequenceMatcher(None, a, b, autojunk=False).get_opcodes().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quorl::align {

using Text = std::u32string_view;

enum class OpTag : std::uint8_t { kEqual, kReplace, kDelete, kInsert };

// `a[i1:i2]` corresponds to `b[j1:j2]`.
struct Opcode {
  OpTag tag;
  std::size_t i1, i2, j1, j2;
  bool operator==(const Opcode& o) const {
    return tag == o.tag && i1 == o.i1 && i2 == o.i2 && j1 == o.j1 && j2 == o.j2;
  }
};

// A common block: a[a_start:a_start+size] == b[b_start:b_start+size].
struct Match {
  std::size_t a_start, b_start, size;
  bool operator==(const Match& o) const {
    return a_start == o.a_start && b_start == o.b_start && size == o.size;
  }
};

// The part of difflib's search space that one step of its recursion looks at: a[alo:ahi]
// against b[blo:bhi].
struct Range {
  std::size_t alo, ahi, blo, bhi;
};

// The opcodes of `a` against `b`. Pure computation: safe to call without the GIL.
std::vector<Opcode> diff_opcodes(Text a, Text b);

// How the fast search goes about its work. The defaults suit every kind of text; tests choose
// others to drive each path of the search against the reference.
struct MatcherOptions {
  // Minimum run lengths tried in turn for the run index; the first whose enumeration stays within
  // its budget is used. Empty: no run index, every range is searched on its own.
  std::vector<std::size_t> run_lengths{8, 32, 128, 512, 2048};
  // Steps allowed to one run enumeration, per character of the two texts.
  std::size_t run_budget_per_char = 4;
  // A range of more position pairs than this, holding no run of the length the run index was
  // made for, lists its own runs of a shorter length (texts that share little). Only with a run
  // index.
  std::size_t shorter_run_area = std::size_t{1} << 16;
  // A range with at most this many position pairs is searched by comparing every pair.
  std::size_t pair_search_area = 4096;
  // Steps allowed to the occurrence search of a range, per character of the range; past that
  // the range goes to a suffix automaton.
  std::size_t occurrence_budget_per_char = 2;
};

// difflib's matching blocks (collapsed, ending with the sentinel {len(a), len(b), 0}).
std::vector<Match> matching_blocks(Text a, Text b);
std::vector<Match> matching_blocks(Text a, Text b, const MatcherOptions& options);

// Opcodes from matching blocks, as difflib's get_opcodes derives them.
std::vector<Opcode> opcodes_from_blocks(const std::vector<Match>& blocks);

// The textbook form of difflib's longest-match search, kept as the reference the fast search is
// tested against: the longest common substring of a[alo:ahi] and b[blo:bhi], ties broken by the
// smallest a position, then the smallest b position; {alo, blo, 0} when there is none.
Match reference_longest_match(Text a, Text b, std::size_t alo, std::size_t ahi, std::size_t blo,
                              std::size_t bhi);

// matching_blocks driven by reference_longest_match alone.
std::vector<Match> reference_matching_blocks(Text a, Text b);

}  // namespace quorl::align
