// Suffix automaton of a text range, answering difflib's longest-match question in linear time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "quorl/align/sequence_matcher.hpp"

namespace quorl::align {

// Built afresh for each range, over the shorter of its two sides; the storage is kept between
// ranges. Costs time linear in the range lengths whatever the texts hold, which is what
// repetitive texts need.
class SuffixAutomaton {
 public:
  // The longest common substring of a[r.alo:r.ahi] and b[r.blo:r.bhi], ties broken by the
  // smallest a position, then the smallest b position, as difflib breaks them. `bound` is a
  // length no common substring exceeds: the scan of a stops at the first match that long.
  Match longest_match(Text a, Text b, const Range& r, std::size_t bound);

  // The automaton numbers states and edges with 32 bits: the shorter side must stay below this.
  static constexpr std::size_t kMaxLength = std::size_t{1} << 30;

 private:
  static constexpr std::uint32_t kNone = 0xffffffffu;
  struct State {
    std::size_t len;        // length of the longest string of the state
    std::uint32_t link;     // suffix link
    std::uint32_t edges;    // first outgoing edge (a list through Edge::next)
    std::size_t first_end;  // where the state's strings first end in b
  };
  struct Edge {
    char32_t c;
    std::uint32_t target;
    std::uint32_t next;
  };

  // The automaton of t[lo:hi].
  void build(Text t, std::size_t lo, std::size_t hi);
  // Runs t[lo:hi] through the automaton, calling visit(p, len, end) for each position p where
  // the longest suffix of t[lo:p+1] found in the automaton's text is not empty: len is its length
  // and end where it first ends there. Stops when visit returns false.
  template <typename Visit>
  void scan(Text t, std::size_t lo, std::size_t hi, Visit&& visit) const;
  std::uint32_t new_state(std::size_t len, std::uint32_t link, std::size_t first_end);
  void add_edge(std::uint32_t from, char32_t c, std::uint32_t to);
  // The edge of `from` labelled `c`, or kNone.
  std::uint32_t find_edge(std::uint32_t from, char32_t c) const;
  std::size_t slot_of(std::uint64_t key) const;

  std::vector<State> states_;
  std::vector<Edge> edges_;
  // Open addressing from (state, character) to edge number.
  std::vector<std::uint64_t> keys_;
  std::vector<std::uint32_t> slots_;
  std::size_t mask_ = 0;
  unsigned shift_ = 60;
};

}  // namespace quorl::align
