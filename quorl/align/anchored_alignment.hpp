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
#include <optional>
#include <vector>

#include "quorl/align/sequence_matcher.hpp"
#include "quorl/align/spans.hpp"

namespace quorl::align {

// The sum over characters of the smaller of their counts in `a` and in `b`: no alignment of the
// two texts keeps more characters.
std::size_t alignment_bound(Text a, Text b);

// Whether an alignment keeping `aligned` characters falls short of `bound` by enough that a
// repeated passage may have captured it. Sound alignments of real and generated patents keep at
// least 99.9% of the bound; a captured section keeps a third to nine tenths of it.
bool alignment_falls_short(std::size_t aligned, std::size_t bound);

// Matching blocks (collapsed, ending with the sentinel {len(a), len(b), 0}) of difflib's
// decomposition run inside the windows that unique runs cut the texts into.
std::vector<Match> anchored_matching_blocks(Text a, Text b);

// The span pairs a converter section takes: when the `current` pairs (difflib's, joined as
// PositionMapper joins them) fall short of the bound, the anchored alignment's pairs if they keep
// more characters; nothing when the current pairs stand.
std::optional<std::vector<SpanPair>> realigned_span_pairs(Text a, Text b,
                                                          const std::vector<SpanPair>& current);

}  // namespace quorl::align
