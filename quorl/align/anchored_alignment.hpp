// An alignment that passages written twice cannot capture, and the test for when one is needed.
//
// difflib pairs the longest common block first and splits the rest around it. When a passage is
// written twice on both sides (a system claim restating a method claim, a summary restating the
// claims) and small differences (blanks, punctuation width) are spread over the text, the longest
// block left can be one copy paired with the other side's twin; everything before it on one side
// is then matched against nothing. Runs of characters that occur once in each text cannot be
// paired with a twin: kept in order, they cut both texts into windows that correspond, and
// difflib's decomposition runs inside each window only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "quorl/align/sequence_matcher.hpp"
#include "quorl/align/spans.hpp"

namespace quorl::align {

// Whether an alignment keeping `aligned` characters of texts of `a_length` and `b_length`
// characters is sound without counting: it keeps at least 99.5% of the shorter text, more than
// alignment_falls_short asks of any bound.
bool alignment_surely_sound(std::size_t aligned, std::size_t a_length, std::size_t b_length);

// The sum over characters of the smaller of their counts in `a` and in `b`: no alignment of the
// two texts keeps more characters. `a` and `b` are views of code points of any width.
template <typename ViewA, typename ViewB>
std::size_t alignment_bound(ViewA a, ViewB b) {
  // Counts of the first plane in a flat table kept per thread and cleared after use (this runs
  // for every section of every patent), the rare others in a map.
  thread_local std::vector<std::uint32_t> counts(0x10000, 0);
  std::unordered_map<char32_t, std::uint32_t> rare;
  for (auto c : a) {
    if (static_cast<char32_t>(c) < 0x10000) {
      ++counts[c];
    } else {
      ++rare[static_cast<char32_t>(c)];
    }
  }
  std::size_t bound = 0;
  for (auto c : b) {
    std::uint32_t* left = nullptr;
    if (static_cast<char32_t>(c) < 0x10000) {
      left = &counts[c];
    } else {
      auto it = rare.find(static_cast<char32_t>(c));
      if (it != rare.end()) left = &it->second;
    }
    if (left && *left) {
      --*left;
      ++bound;
    }
  }
  for (auto c : a) {
    if (static_cast<char32_t>(c) < 0x10000) counts[c] = 0;
  }
  return bound;
}

// Whether an alignment keeping `aligned` characters falls short of `bound` by enough that a
// repeated passage may have captured it. Sound alignments of real and generated patents keep at
// least 99.9% of the bound; a captured section keeps a third to nine tenths of it.
bool alignment_falls_short(std::size_t aligned, std::size_t bound);

// Matching blocks (collapsed, ending with the sentinel {len(a), len(b), 0}) of difflib's
// decomposition run inside the windows that unique runs cut the texts into.
std::vector<Match> anchored_matching_blocks(Text a, Text b);

// The anchored alignment's matching blocks when its span pairs keep more than `aligned`
// characters; nothing otherwise, or when no unique run is found (the alignment would be
// difflib's own).
std::optional<std::vector<Match>> anchored_blocks_keeping_more(Text a, Text b, std::size_t aligned);

// The span pairs of matching blocks, equal stretches joined as PositionMapper joins difflib's:
// across a gap of one character on both sides.
std::vector<SpanPair> joined_span_pairs(const std::vector<Match>& blocks);

// The span pairs a converter section takes instead of `current` (difflib's, joined as
// PositionMapper joins them), or nothing when `current` stands: the three steps above in turn.
std::optional<std::vector<SpanPair>> realigned_span_pairs(Text a, Text b,
                                                          const std::vector<SpanPair>& current);

}  // namespace quorl::align
